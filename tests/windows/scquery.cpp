// "sc query <service>" as Windows answers it, from the real service manager.
// Wine's own sc.exe has no "query" command, and the relaunch script asks
// exactly that; this program stands in for it, as sc.exe in the System32
// folder of the %SystemRoot% a test hands the script. Each call is noted in
// the file named by KESTRIX_TEST_SC_LOG.

#include "winsupport.h"

#include <cstdio>

namespace {

const char *stateName(DWORD state)
{
    switch (state) {
    case SERVICE_STOPPED:
        return "STOPPED";
    case SERVICE_START_PENDING:
        return "START_PENDING";
    case SERVICE_STOP_PENDING:
        return "STOP_PENDING";
    case SERVICE_RUNNING:
        return "RUNNING";
    case SERVICE_CONTINUE_PENDING:
        return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING:
        return "PAUSE_PENDING";
    case SERVICE_PAUSED:
        return "PAUSED";
    }
    return "UNKNOWN";
}

void note(const std::string &line)
{
    const std::wstring log = WinTest::environmentVariable(L"KESTRIX_TEST_SC_LOG");
    if (!log.empty())
        WinTest::appendLine(log, line);
}

} // namespace

int main()
{
    const std::vector<std::wstring> arguments = WinTest::commandArguments();
    if (arguments.size() != 3 || arguments[1] != L"query") {
        std::printf("this stand-in answers \"sc query <service>\" only\n");
        return 1;
    }
    const std::wstring &name = arguments[2];

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager ? OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    const bool ok =
        service && QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                        reinterpret_cast<BYTE *>(&status), sizeof status, &needed);
    const DWORD error = ok ? 0 : GetLastError();
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);

    if (!ok) {
        note("query " + WinTest::narrow(name) + " failed " + std::to_string(error));
        std::printf("[SC] EnumQueryServicesStatus:OpenService FAILED %lu:\n\n", error);
        return int(error);
    }
    note("query " + WinTest::narrow(name) + " " + stateName(status.dwCurrentState));
    std::printf("\nSERVICE_NAME: %s\n", WinTest::narrow(name).c_str());
    std::printf("        TYPE               : %-2lx  WIN32_OWN_PROCESS\n", status.dwServiceType);
    std::printf("        STATE              : %lu  %s\n", status.dwCurrentState,
                stateName(status.dwCurrentState));
    std::printf("        WIN32_EXIT_CODE    : %lu  (0x%lx)\n", status.dwWin32ExitCode,
                status.dwWin32ExitCode);
    std::printf("        SERVICE_EXIT_CODE  : %lu  (0x%lx)\n", status.dwServiceSpecificExitCode,
                status.dwServiceSpecificExitCode);
    std::printf("        CHECKPOINT         : 0x%lx\n", status.dwCheckPoint);
    std::printf("        WAIT_HINT          : 0x%lx\n\n", status.dwWaitHint);
    return 0;
}
