// Stands in for the daemon (console build) and the interface (GUI build).
// Writes "<own path>.report" once the process that started it has ended:
//   command line: <exactly as received>
//   console: attached | none
//   console window: shown | none
//   outlived its starter: yes | no
//   current folder: <path>

#include "winsupport.h"

#include <tlhelp32.h>

namespace {

DWORD parentProcessId()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

// True once the starter has ended while this process still runs.
bool outlivedStarter(DWORD parent)
{
    HANDLE process = parent ? OpenProcess(SYNCHRONIZE, FALSE, parent) : nullptr;
    if (!process)
        return true; // already gone
    const bool ended = WaitForSingleObject(process, 60000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

bool hasConsole()
{
    HANDLE output =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(output);
    return true;
}

} // namespace

int main()
{
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), DWORD(self.size())));

    std::string report = "command line: " + WinTest::narrow(GetCommandLineW()) + "\n";
    report += std::string("console: ") + (hasConsole() ? "attached" : "none") + "\n";
    report += std::string("console window: ") +
              (GetConsoleWindow() && IsWindowVisible(GetConsoleWindow()) ? "shown" : "none") + "\n";
    report += std::string("outlived its starter: ") +
              (outlivedStarter(parentProcessId()) ? "yes" : "no") + "\n";
    std::wstring folder(32768, L'\0');
    folder.resize(GetCurrentDirectoryW(DWORD(folder.size()), folder.data()));
    report += "current folder: " + WinTest::narrow(folder) + "\n";
    return WinTest::writeFileAtomically(self + L".report", report) ? 0 : 1;
}
