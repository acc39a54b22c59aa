#pragma once

// Plain Win32 + standard C++, no Qt: built and run under Wine by the Windows tests.

#include "daemon/servicestate.h"

#include <string>

namespace Win32 {

// The daemon's service.
inline constexpr wchar_t kDaemonServiceName[] = L"kestrix";

struct ServiceStatus
{
    ServiceState state = ServiceState::QueryFailed;
    unsigned long processId = 0; // the service's process; 0 while it has none
};

// Asks the service control manager for the state and process of the named
// service, with the least rights that allow it. Any failure answers
// QueryFailed with no process.
ServiceStatus queryServiceStatus(const std::wstring &serviceName);

// The state alone.
ServiceState queryServiceState(const std::wstring &serviceName);

} // namespace Win32
