#pragma once

// Plain Win32 + standard C++, no Qt: built and run under Wine by the Windows tests.

#include "ipc/peertrust.h"

#include <cstdint>
#include <functional>
#include <string>

namespace Win32 {

enum class PipeOpen
{
    Opened,  // handle is a verified, overlapped pipe handle, ours to hand on
    Refused, // the server is not one we trust; nothing was written, handle closed
    Failed,  // no such pipe, busy, or the server could not be identified
};

struct VerifiedPipe
{
    PipeOpen result = PipeOpen::Failed;
    std::intptr_t handle = -1; // INVALID_HANDLE_VALUE unless Opened
    unsigned long error = 0;   // GetLastError() of the failing step
    PeerIdentity peer;         // what was learnt of the server
    std::string owner;         // the pipe object's owner as SID text; empty if unread
};

// This process's trust policy: our own token user, LocalSystem, and the
// process id of the running "kestrix" service (0 when it is not running).
TrustPolicy currentTrustPolicy();

// Opens the named pipe for reading and writing with
// SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION (the server may identify
// us, never impersonate us) and FILE_FLAG_OVERLAPPED (what QLocalSocket
// expects of a handle it adopts), then learns who serves it, once: the
// server's process id (GetNamedPipeServerProcessId), that process's token
// user, and the pipe object's owner. Only then is the policy taken, so the
// service's process id is the one current while the pipe is open. The handle
// is kept when isTrustedDaemon() accepts the server and isTrustedPipeOwner()
// its owner.
VerifiedPipe openVerifiedPipe(const std::wstring &pipeName,
                              const std::function<TrustPolicy()> &policy = currentTrustPolicy);

// Whoever creates a pipe owns it, and no one can name another owner without
// that one's rights. Accepted: the policy's system user and, with it, the
// administrators (what a LocalSystem service's objects may be owned by);
// this user; and, for a service running under an account of its own, that
// account, when the server is the service's process and runs as the owner.
bool isTrustedPipeOwner(const std::string &owner, const PeerIdentity &server,
                        const TrustPolicy &policy);

// Closes a handle openVerifiedPipe() handed out and nobody adopted.
void closePipe(std::intptr_t handle);

} // namespace Win32
