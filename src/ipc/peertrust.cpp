#include "ipc/peertrust.h"

bool isTrustedDaemon(const PeerIdentity &peer, const TrustPolicy &policy)
{
    if (!peer.known)
        return false;
    if (!peer.user.empty() && (peer.user == policy.systemUser || peer.user == policy.ownUser))
        return true;
    return policy.serviceProcessId != 0 && peer.processId == policy.serviceProcessId;
}
