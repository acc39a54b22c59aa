#pragma once

// Small Win32 helpers shared by the Windows test program and its stand-ins.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace WinTest {

std::wstring widen(const std::string &utf8);
std::string narrow(const std::wstring &text);

// The folder of the running program, without a trailing separator.
std::wstring programFolder();
std::wstring joined(const std::wstring &folder, const std::wstring &name);

bool fileExists(const std::wstring &path);
std::string readFile(const std::wstring &path);
// Reads a file or pipe handle until its end (or a broken pipe).
std::string readToEnd(HANDLE handle);
// Writes through a temporary file and a rename, so a reader polling for the
// file never sees half of it.
bool writeFileAtomically(const std::wstring &path, const std::string &content);
bool appendLine(const std::wstring &path, const std::string &line);
std::vector<std::string> lines(const std::string &text);

// A fresh, empty folder (every parent created); removed with its content
// when the object goes.
class ScratchFolder
{
public:
    explicit ScratchFolder(const std::wstring &path);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::wstring &path() const { return m_path; }
    bool valid() const { return m_valid; }

private:
    std::wstring m_path;
    bool m_valid = false;
};

// A path under this run's scratch root, which lies in the Wine prefix.
std::wstring scratchPath(const std::wstring &name);

// Polls every 20 ms until the condition holds or the time is up. Generous
// limits everywhere: the machine may be busy, and success never waits long.
bool waitUntil(const std::function<bool()> &condition, DWORD timeoutMs = 30000);

// Starts a program and returns its process handle (null on failure).
HANDLE startProcess(const std::wstring &commandLine, DWORD flags = 0, DWORD *processId = nullptr);
// Starts a program, waits for it and returns its exit code (-1 on failure or timeout).
long runProcess(const std::wstring &commandLine, DWORD flags = 0, DWORD timeoutMs = 30000);

std::wstring quoted(const std::wstring &path);

// Sets a variable in this process's environment for the life of the object;
// restores the old value (or its absence) after.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const std::wstring &name, const std::wstring &value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

private:
    std::wstring m_name;
    std::wstring m_old;
    bool m_hadOld = false;
};

std::wstring environmentVariable(const std::wstring &name);

// This process's arguments, the program included, as Windows splits them.
std::vector<std::wstring> commandArguments();

} // namespace WinTest
