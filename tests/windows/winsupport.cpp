#include "winsupport.h"

#include <shellapi.h>

namespace WinTest {

std::wstring widen(const std::string &utf8)
{
    if (utf8.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring text(size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), text.data(), size);
    return text;
}

std::string narrow(const std::wstring &text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string utf8(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), utf8.data(), size, nullptr,
                        nullptr);
    return utf8;
}

std::wstring programFolder()
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring joined(const std::wstring &folder, const std::wstring &name)
{
    return folder + L'\\' + name;
}

bool fileExists(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string readFile(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string content = readToEnd(file);
    CloseHandle(file);
    return content;
}

std::string readToEnd(HANDLE handle)
{
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0)
        content.append(buffer, got);
    return content;
}

namespace {

bool writeFile(const std::wstring &path, const std::string &content, DWORD disposition)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, disposition, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (disposition == OPEN_ALWAYS)
        SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    const bool ok = WriteFile(file, content.data(), DWORD(content.size()), &written, nullptr) &&
                    written == content.size();
    CloseHandle(file);
    return ok;
}

void removeTree(const std::wstring &path)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = joined(path, name);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

bool makeFolders(const std::wstring &path)
{
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

} // namespace

bool writeFileAtomically(const std::wstring &path, const std::string &content)
{
    const std::wstring temporary = path + L".partial";
    return writeFile(temporary, content, CREATE_ALWAYS) &&
           MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool appendLine(const std::wstring &path, const std::string &line)
{
    return writeFile(path, line + "\n", OPEN_ALWAYS);
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(from, end - from);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        result.push_back(line);
        from = end + 1;
    }
    return result;
}

ScratchFolder::ScratchFolder(const std::wstring &path) : m_path(path)
{
    removeTree(m_path);
    m_valid = makeFolders(m_path);
}

ScratchFolder::~ScratchFolder()
{
    removeTree(m_path);
}

std::wstring scratchPath(const std::wstring &name)
{
    return L"C:\\kestrix-tests\\" + name;
}

bool waitUntil(const std::function<bool()> &condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() > deadline)
            return false;
        Sleep(20);
    }
    return true;
}

HANDLE startProcess(const std::wstring &commandLine, DWORD flags, DWORD *processId)
{
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    if (processId)
        *processId = info.dwProcessId;
    return info.hProcess;
}

long runProcess(const std::wstring &commandLine, DWORD flags, DWORD timeoutMs)
{
    HANDLE process = startProcess(commandLine, flags);
    if (!process)
        return -1;
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process, &code)) {
        TerminateProcess(process, 1);
        code = DWORD(-1);
    }
    CloseHandle(process);
    return long(code);
}

std::wstring quoted(const std::wstring &path)
{
    return L'"' + path + L'"';
}

std::vector<std::wstring> commandArguments()
{
    std::vector<std::wstring> arguments;
    int count = 0;
    wchar_t **list = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; list && i < count; ++i)
        arguments.emplace_back(list[i]);
    LocalFree(list);
    return arguments;
}

std::wstring environmentVariable(const std::wstring &name)
{
    const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name.c_str(), value.data(), size));
    return value;
}

ScopedEnvironment::ScopedEnvironment(const std::wstring &name, const std::wstring &value)
    : m_name(name)
{
    m_hadOld = GetEnvironmentVariableW(name.c_str(), nullptr, 0) > 0;
    m_old = environmentVariable(name);
    SetEnvironmentVariableW(name.c_str(), value.c_str());
}

ScopedEnvironment::~ScopedEnvironment()
{
    SetEnvironmentVariableW(m_name.c_str(), m_hadOld ? m_old.c_str() : nullptr);
}

} // namespace WinTest
