#include "ipc/fileowner.h"

#include <windows.h>

#include <aclapi.h>
#include <io.h>
#include <sddl.h>

namespace {

bool isTokenUser(PSID sid)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    // TOKEN_USER plus the largest SID, aligned for the record inside.
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD needed = 0;
    const bool ours = GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &needed) &&
                      EqualSid(sid, buffer.user.User.Sid);
    CloseHandle(token);
    return ours;
}

bool isAccount(PSID sid, const std::string &account)
{
    if (account.empty())
        return false;
    LPSTR text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text))
        return false;
    const bool same = account == text;
    LocalFree(text);
    return same;
}

} // namespace

bool isOwnedByTrustedAccount(int fd, const std::string &serviceAccount)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    // A service running as LocalSystem writes files owned by LocalSystem or,
    // by the default owner of its token, by the Administrators group.
    const bool trusted = IsWellKnownSid(owner, WinLocalSystemSid) ||
                         IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || isTokenUser(owner) ||
                         isAccount(owner, serviceAccount);
    LocalFree(descriptor);
    return trusted;
}
