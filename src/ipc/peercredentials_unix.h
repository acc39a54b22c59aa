#pragma once

#include "ipc/peertrust.h"

// Who serves the other end of a connected Unix-domain socket, as the kernel
// recorded it when the server began to listen (SO_PEERCRED on Linux, with
// the process; getpeereid elsewhere, without); not known when the system
// cannot tell.
PeerIdentity peerIdentityOfSocket(int socketFd);

// This process's trust on Unix: its own effective user and root. The
// service's process is asked of systemd separately (daemonpeer_unix.h), as
// that takes a while.
TrustPolicy currentTrustPolicy();
