#pragma once

// Plain Win32 + standard C++, no Qt: built and run under Wine by the Windows tests.

#include <string>

namespace Win32 {

enum class Console
{
    Detached, // no console at all (the daemon)
    Hidden,   // a console that is never shown (the command interpreter)
};

// One variable set for a new process on top of this process's environment.
struct EnvironmentEntry
{
    std::wstring name;
    std::wstring value;
};

// Starts a process from a full command line without a window, with this
// process's environment and current directory, and does not wait for it.
bool startWithoutWindow(const std::wstring &commandLine, Console console);

// The same for a known program file (no search along the current directory
// or PATH) with one variable added to the environment it inherits, started
// in workingFolder rather than in this process's current directory.
bool startWithoutWindow(const std::wstring &application, const std::wstring &commandLine,
                        Console console, const EnvironmentEntry &extra,
                        const std::wstring &workingFolder);

// Starts the daemon executable (full native path) in foreground mode,
// detached and without a console.
bool startDaemon(const std::wstring &nativeExecutable);

// An environment block (name=value strings, each ending in a NUL, the block
// in one more) holding what `block` holds, with `extra` in place of any
// variable of that name (names compare without regard to case), in the
// order Windows keeps it: sorted by name without regard to case.
std::wstring environmentBlockWith(const wchar_t *block, const EnvironmentEntry &extra);

} // namespace Win32
