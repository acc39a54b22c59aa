#pragma once

#include "ipc/peertrust.h"

// Who serves the other end of a connected Unix-domain socket, as the kernel
// recorded it (SO_PEERCRED on Linux, getpeereid elsewhere); not known when
// the system cannot tell.
PeerIdentity peerIdentityOfSocket(int socketFd);

// This process's trust on Unix: its own effective user and root.
TrustPolicy currentTrustPolicy();
