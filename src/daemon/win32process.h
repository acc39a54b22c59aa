#pragma once

#include <string>

namespace Win32 {

enum class Console
{
    Detached, // no console at all (the daemon)
    Hidden,   // a console that is never shown (the command interpreter)
};

// Starts a process from a full command line without a window, with this
// process's environment and current directory, and does not wait for it.
bool startWithoutWindow(const std::wstring &commandLine, Console console);

} // namespace Win32
