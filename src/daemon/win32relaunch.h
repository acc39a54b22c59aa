#pragma once

// Plain Win32 + standard C++, no Qt: built and run under Wine by the Windows tests.

#include <string>

namespace Win32 {

// Writes the relaunch script to scriptPath (replacing an earlier one) and
// starts it with the command interpreter, hidden, the interface's path
// (native separators) handed over in its environment. Returns without
// waiting; false when nothing was started.
bool scheduleRelaunch(const std::wstring &scriptPath, const std::wstring &executable);

} // namespace Win32
