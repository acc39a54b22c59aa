#include "app/win32session.h"

#include <windows.h>

namespace Win32 {
namespace {

constexpr wchar_t kBaseName[] = L"kestrix-ui-single";

} // namespace

std::wstring singleInstanceNameForSession(unsigned long sessionId)
{
    return std::wstring(kBaseName) + L'-' + std::to_wstring(sessionId);
}

std::wstring singleInstanceName()
{
    DWORD sessionId = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &sessionId))
        return kBaseName;
    return singleInstanceNameForSession(sessionId);
}

} // namespace Win32
