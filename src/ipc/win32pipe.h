#pragma once

// Plain Win32 + standard C++, no Qt: built and run under Wine by the Windows tests.

#include "ipc/peertrust.h"

#include <cstdint>
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
    std::intptr_t handle = -1;   // INVALID_HANDLE_VALUE unless Opened
    unsigned long error = 0;     // GetLastError() of the failing step
    PeerIdentity peer;           // what was learnt of the server
};

// Opens the named pipe for reading and writing with
// SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION (the server may identify
// us, never impersonate us) and FILE_FLAG_OVERLAPPED (what QLocalSocket
// expects of a handle it adopts), then asks who serves it
// (GetNamedPipeServerProcessId, the process's token user) and keeps the
// handle only when isTrustedDaemon() accepts that server.
VerifiedPipe openVerifiedPipe(const std::wstring &pipeName, const TrustPolicy &policy);

// This process's trust policy: our own token user, LocalSystem, and the
// process id of the running "kestrix" service (0 when it is not running).
TrustPolicy currentTrustPolicy();

} // namespace Win32
