#include "ipc/win32pipe.h"

#include "daemon/win32service.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace Win32 {
namespace {

// How long a busy pipe (every instance taken) is waited for, once. Short: the
// caller runs on the interface thread and retries on its own schedule.
constexpr DWORD kBusyWaitMs = 200;

constexpr char kLocalSystemSid[] = "S-1-5-18";
constexpr char kAdministratorsSid[] = "S-1-5-32-544";

// A SID as text ("S-1-5-21-..."); empty when it cannot be converted.
std::string sidText(PSID sid)
{
    wchar_t *text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text))
        return {};
    std::string result;
    for (const wchar_t *c = text; *c; ++c)
        result += char(*c); // SID text is digits, "S" and "-"
    LocalFree(text);
    return result;
}

// The token's user as SID text; empty when it cannot be read.
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
    return sidText(buffer.user.User.Sid);
}

// The owner of the object behind a handle opened with READ_CONTROL (which
// GENERIC_READ carries); empty when it cannot be read.
std::string ownerOf(HANDLE object)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return {};
    std::string sid = sidText(owner);
    LocalFree(descriptor);
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

TrustPolicy currentTrustPolicy()
{
    TrustPolicy policy;
    policy.ownUser = processUserSid(GetCurrentProcess());
    policy.systemUser = kLocalSystemSid;
    policy.serviceProcessId = queryServiceStatus(kDaemonServiceName).processId;
    return policy;
}

VerifiedPipe openVerifiedPipe(const std::wstring &pipeName,
                              const std::function<TrustPolicy()> &policy)
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
    // Held until the decision: while it is open, that id names this process
    // and no other, so the service's id compared below cannot be a reused one.
    // (A LocalSystem service cannot be opened by a plain user: then its
    // user stays unknown and the pipe's owner must be the system's.)
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverProcess);
    if (process)
        pipe.peer.user = processUserSid(process);
    pipe.owner = ownerOf(handle);

    const TrustPolicy now = policy();
    const bool trusted =
        isTrustedDaemon(pipe.peer, now) && isTrustedPipeOwner(pipe.owner, pipe.peer, now);
    if (process)
        CloseHandle(process);
    if (!trusted) {
        // Closed before a single byte went out.
        CloseHandle(handle);
        pipe.result = PipeOpen::Refused;
        return pipe;
    }
    pipe.result = PipeOpen::Opened;
    pipe.handle = reinterpret_cast<std::intptr_t>(handle);
    return pipe;
}

bool isTrustedPipeOwner(const std::string &owner, const PeerIdentity &server,
                        const TrustPolicy &policy)
{
    if (owner.empty())
        return false;
    if (owner == policy.systemUser || owner == policy.ownUser)
        return true;
    if (!policy.systemUser.empty() && owner == kAdministratorsSid)
        return true;
    return server.known && owner == server.user && policy.serviceProcessId != 0 &&
           server.processId == policy.serviceProcessId;
}

void closePipe(std::intptr_t handle)
{
    if (handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle));
}

} // namespace Win32
