#include "daemon/win32process.h"

#include "daemon/commandlines.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#ifdef _WIN64
// The startup record handed to process creation has this size on 64-bit Windows.
static_assert(sizeof(STARTUPINFOW) == 104, "unexpected STARTUPINFOW size");
#endif

namespace Win32 {
namespace {

bool createProcess(const wchar_t *application, const std::wstring &commandLine, DWORD flags,
                   void *environment, const wchar_t *workingFolder = nullptr)
{
    // Process creation may write into the command line, so it gets its own copy.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');

    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);

    if (!CreateProcessW(application, buffer.data(), nullptr, nullptr, FALSE, flags, environment,
                        workingFolder, &startup, &info))
        return false;

    // Nothing here waits for or watches the new process.
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return true;
}

DWORD consoleFlags(Console console)
{
    return console == Console::Detached ? CREATE_NO_WINDOW | DETACHED_PROCESS : CREATE_NO_WINDOW;
}

// The name part of one "name=value" entry. Entries of the per-drive current
// folders ("=C:=C:\\dir") start with "=", which belongs to the name.
std::wstring entryName(const std::wstring &entry)
{
    const std::size_t equals = entry.find(L'=', 1);
    return entry.substr(0, equals);
}

bool namesEqual(const std::wstring &a, const std::wstring &b)
{
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool nameLess(const std::wstring &a, const std::wstring &b)
{
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) ==
           CSTR_LESS_THAN;
}

} // namespace

bool startWithoutWindow(const std::wstring &commandLine, Console console)
{
    return createProcess(nullptr, commandLine, consoleFlags(console), nullptr);
}

bool startWithoutWindow(const std::wstring &application, const std::wstring &commandLine,
                        Console console, const EnvironmentEntry &extra,
                        const std::wstring &workingFolder)
{
    wchar_t *current = GetEnvironmentStringsW();
    if (!current)
        return false;
    std::wstring block = environmentBlockWith(current, extra);
    FreeEnvironmentStringsW(current);
    return createProcess(application.c_str(), commandLine,
                         consoleFlags(console) | CREATE_UNICODE_ENVIRONMENT, block.data(),
                         workingFolder.c_str());
}

bool startDaemon(const std::wstring &nativeExecutable)
{
    return startWithoutWindow(CommandLines::daemon(nativeExecutable), Console::Detached);
}

std::wstring environmentBlockWith(const wchar_t *block, const EnvironmentEntry &extra)
{
    std::vector<std::wstring> entries;
    for (const wchar_t *entry = block; entry && *entry; entry += std::wcslen(entry) + 1) {
        std::wstring text(entry);
        if (!namesEqual(entryName(text), extra.name))
            entries.push_back(std::move(text));
    }
    std::wstring added = extra.name + L'=' + extra.value;
    const auto place = std::find_if(entries.begin(), entries.end(), [&](const std::wstring &e) {
        return nameLess(extra.name, entryName(e));
    });
    entries.insert(place, std::move(added));

    std::wstring result;
    for (const std::wstring &entry : entries) {
        result += entry;
        result += L'\0';
    }
    result += L'\0';
    return result;
}

} // namespace Win32
