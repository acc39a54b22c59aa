#include "daemon/commandlines.h"

namespace CommandLines {

std::wstring daemon(const std::wstring &nativeExecutable)
{
    return L'"' + nativeExecutable + L"\" --foreground";
}

std::wstring relaunch(const std::wstring &nativeScript)
{
    return L"cmd.exe /c \"\"" + nativeScript + L"\"\"";
}

} // namespace CommandLines
