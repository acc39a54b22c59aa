#include "ipc/peercredentials_unix.h"

#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

PeerIdentity peerIdentityOfSocket(int socketFd)
{
    PeerIdentity peer;
    if (socketFd < 0)
        return peer;
#ifdef __linux__
    struct ucred credentials = {};
    socklen_t length = sizeof credentials;
    if (getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials)
        return peer;
    const uid_t uid = credentials.uid;
    peer.processId = credentials.pid > 0 ? static_cast<unsigned long>(credentials.pid) : 0;
#else
    uid_t uid = 0;
    gid_t gid = 0;
    if (getpeereid(socketFd, &uid, &gid) != 0)
        return peer;
#endif
    peer.known = true;
    peer.user = std::to_string(uid);
    return peer;
}

TrustPolicy currentTrustPolicy()
{
    TrustPolicy policy;
    policy.ownUser = std::to_string(geteuid());
    policy.systemUser = "0";
    return policy;
}
