#include "ipc/win32pipe.h"

#include "daemon/win32service.h"

#include <windows.h>

#include <sddl.h>

namespace Win32 {
namespace {

// How long a busy pipe (every instance taken) is waited for, once. Short: the
// caller runs on the interface thread and retries on its own schedule.
constexpr DWORD kBusyWaitMs = 200;

constexpr char kLocalSystemSid[] = "S-1-5-18";

// The token's user as SID text ("S-1-5-21-..."); empty when it cannot be read.
std::string tokenUserSid(HANDLE token)
{
    // TOKEN_USER plus the largest SID, aligned for the record inside.
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD needed = 0;
    if (!GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &needed))
        return {};
    wchar_t *text = nullptr;
    if (!ConvertSidToStringSidW(buffer.user.User.Sid, &text))
        return {};
    std::string sid;
    for (const wchar_t *c = text; *c; ++c)
        sid += char(*c); // SID text is digits, "S" and "-"
    LocalFree(text);
    return sid;
}

std::string processUserSid(HANDLE process)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return {};
    std::string sid = tokenUserSid(token);
    CloseHandle(token);
    return sid;
}

// The user a process runs as; empty when we may not look (a LocalSystem
// service seen from a plain user, for one).
std::string userOfProcess(unsigned long processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return {};
    std::string sid = processUserSid(process);
    CloseHandle(process);
    return sid;
}

HANDLE openPipe(const std::wstring &pipeName)
{
    return CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION | FILE_FLAG_OVERLAPPED,
                       nullptr);
}

VerifiedPipe failed(DWORD error)
{
    VerifiedPipe pipe;
    pipe.error = error;
    return pipe;
}

} // namespace

VerifiedPipe openVerifiedPipe(const std::wstring &pipeName, const TrustPolicy &policy)
{
    HANDLE handle = openPipe(pipeName);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY) {
        if (!WaitNamedPipeW(pipeName.c_str(), kBusyWaitMs))
            return failed(GetLastError());
        handle = openPipe(pipeName);
    }
    if (handle == INVALID_HANDLE_VALUE)
        return failed(GetLastError());

    VerifiedPipe pipe;
    ULONG serverProcess = 0;
    if (!GetNamedPipeServerProcessId(handle, &serverProcess) || serverProcess == 0) {
        pipe.error = GetLastError();
        CloseHandle(handle);
        return pipe;
    }
    pipe.peer.known = true;
    pipe.peer.processId = serverProcess;
    pipe.peer.user = userOfProcess(serverProcess);

    if (!isTrustedDaemon(pipe.peer, policy)) {
        // Closed before a single byte went out.
        CloseHandle(handle);
        pipe.result = PipeOpen::Refused;
        return pipe;
    }
    pipe.result = PipeOpen::Opened;
    pipe.handle = reinterpret_cast<std::intptr_t>(handle);
    return pipe;
}

TrustPolicy currentTrustPolicy()
{
    TrustPolicy policy;
    policy.ownUser = processUserSid(GetCurrentProcess());
    policy.systemUser = kLocalSystemSid;
    policy.serviceProcessId = queryServiceStatus(kDaemonServiceName).processId;
    return policy;
}

} // namespace Win32
