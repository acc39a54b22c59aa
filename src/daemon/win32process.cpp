#include "daemon/win32process.h"

#include <windows.h>

#include <cstring>
#include <vector>

#ifdef _WIN64
// The startup record handed to process creation has this size on 64-bit Windows.
static_assert(sizeof(STARTUPINFOW) == 104, "unexpected STARTUPINFOW size");
#endif

namespace Win32 {

bool startWithoutWindow(const std::wstring &commandLine, Console console)
{
    // Process creation may write into the command line, so it gets its own copy.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');

    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);

    DWORD flags = CREATE_NO_WINDOW;
    if (console == Console::Detached)
        flags |= DETACHED_PROCESS;

    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &info))
        return false;

    // Nothing here waits for or watches the new process.
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return true;
}

} // namespace Win32
