#include "daemon/win32relaunch.h"

#include "daemon/commandlines.h"
#include "daemon/relaunchscript.h"
#include "daemon/win32process.h"

#include <windows.h>

namespace Win32 {
namespace {

bool writeScript(const std::wstring &path)
{
    const std::string &script = RelaunchScript::windowsScript();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool complete = WriteFile(file, script.data(), DWORD(script.size()), &written, nullptr) &&
                          written == script.size();
    return CloseHandle(file) && complete;
}

std::wstring systemFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::wstring(folder, length);
}

std::wstring widened(const char *ascii)
{
    return std::wstring(ascii, ascii + std::char_traits<char>::length(ascii));
}

} // namespace

bool scheduleRelaunch(const std::wstring &scriptPath, const std::wstring &executable)
{
    if (!writeScript(scriptPath))
        return false;
    const std::wstring system = systemFolder();
    if (system.empty())
        return false;
    // The interpreter from the system folder, and that folder as its current
    // one: cmd.exe looks for a bare command name in its current folder
    // first, and the interface's may be anyone's (a download folder).
    return startWithoutWindow(system + L"\\cmd.exe", CommandLines::relaunch(scriptPath),
                              Console::Hidden,
                              {widened(RelaunchScript::kExecutableVariable), executable}, system);
}

} // namespace Win32
