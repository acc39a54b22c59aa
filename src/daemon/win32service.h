#pragma once

#include "daemon/servicestate.h"

#include <string>

namespace Win32 {

// Asks the service control manager for the state of the named service, with
// the least rights that allow it. Any failure answers QueryFailed.
ServiceState queryServiceState(const std::wstring &serviceName);

} // namespace Win32
