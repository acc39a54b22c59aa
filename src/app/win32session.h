#pragma once

// Plain Win32 + standard C++, no Qt: built and run under Wine by the Windows tests.

#include <string>

namespace Win32 {

// The single-instance name for a session: "kestrix-ui-single-" and the id.
// Pipe names are shared by every session on the machine, so a name without
// the session would let the first signed-in user block all the others.
std::wstring singleInstanceNameForSession(unsigned long sessionId);

// The name for this process's session; the bare "kestrix-ui-single" when
// the session cannot be learnt.
std::wstring singleInstanceName();

} // namespace Win32
