#include "pipeserving.h"

#include "winsupport.h"

#include <sddl.h>

namespace WinTest {
namespace {

std::wstring processUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD needed = 0;
    wchar_t *text = nullptr;
    std::wstring sid;
    if (GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &needed) &&
        ConvertSidToStringSidW(buffer.user.User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

// Owned as asked, open to everyone: the owner is what is under test.
PSECURITY_DESCRIPTOR descriptorOwnedBy(const std::wstring &owner)
{
    const std::wstring sid = owner == kOwnerCreator ? processUserSid() : owner;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sid.empty() ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(
            (L"O:" + sid + L"D:(A;;GA;;;WD)").c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return nullptr;
    return descriptor;
}

} // namespace

void servePipeOnce(const std::wstring &pipeName, const std::wstring &report,
                   const std::wstring &owner)
{
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof attributes;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (owner != kOwnerNone) {
        descriptor = descriptorOwnedBy(owner);
        if (!descriptor)
            return;
        attributes.lpSecurityDescriptor = descriptor;
    }
    HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096,
                                   0, descriptor ? &attributes : nullptr);
    LocalFree(descriptor);
    if (pipe == INVALID_HANDLE_VALUE)
        return;
    writeFileAtomically(report + L".ready", "");
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
        CloseHandle(pipe);
        return;
    }
    writeFileAtomically(report + L".connected", "");
    const std::string received = readToEnd(pipe);
    CloseHandle(pipe);
    writeFileAtomically(report, received);
}

bool readPipeReport(const std::wstring &report, std::string &received)
{
    if (!fileExists(report))
        return false;
    received = readFile(report);
    return true;
}

} // namespace WinTest
