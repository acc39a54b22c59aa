#include "daemon/win32service.h"

#include <windows.h>

#include <cstring>

// The status record is read as a fixed 36-byte layout.
static_assert(sizeof(SERVICE_STATUS_PROCESS) == 36, "unexpected SERVICE_STATUS_PROCESS size");

namespace Win32 {

ServiceStatus queryServiceStatus(const std::wstring &serviceName)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return {};

    SC_HANDLE service = OpenServiceW(manager, serviceName.c_str(), SERVICE_QUERY_STATUS);
    if (!service) {
        CloseServiceHandle(manager);
        return {};
    }

    SERVICE_STATUS_PROCESS status;
    std::memset(&status, 0, sizeof status);
    DWORD needed = 0;
    const BOOL ok = QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                         reinterpret_cast<LPBYTE>(&status), sizeof status, &needed);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);

    if (!ok)
        return {};
    return {serviceStateFromCode(status.dwCurrentState), status.dwProcessId};
}

ServiceState queryServiceState(const std::wstring &serviceName)
{
    return queryServiceStatus(serviceName).state;
}

} // namespace Win32
