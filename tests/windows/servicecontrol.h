#pragma once

// Drives the test service registered as "kestrix" in the Wine prefix, with
// the service manager's own calls (not the units under test).

#include <windows.h>

#include <string>
#include <vector>

namespace ServiceControl {

inline constexpr wchar_t kName[] = L"kestrix";

bool start(const std::vector<std::wstring> &arguments = {});
bool requestStop();
DWORD currentState(); // 0 when it cannot be asked
bool waitForState(DWORD state);
// Lets a service held in a pending state move on.
void release();
// Back to stopped, whatever it was doing; true when it got there.
bool stopAndWait();
// The process id the service wrote at its last start; 0 if none.
DWORD recordedProcessId();
std::wstring programPath();

} // namespace ServiceControl
