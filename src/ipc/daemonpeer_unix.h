#pragma once

#include "ipc/peertrust.h"

#include <QLocalSocket>
#include <QObject>
#include <QString>

#include <functional>
#include <string>

// The Unix side of "no token to a daemon we have not verified": where the
// client may connect, and whom it may then talk to.
namespace DaemonPeer {

// Connects socket to the daemon's socket at path once checkEndpoint() has
// accepted it (through the checked folder, never by the path again). A path
// that is refused is not connected to: false, with the reason in refusal.
bool connectToCheckedEndpoint(QLocalSocket *socket, const QString &path, QString *refusal);

enum class Verdict
{
    Trusted,
    Refused,
    Pending, // asked of systemd; recheck runs once the answer is in
};

// Whether the server of socket's current connection may have the token:
// root or this user at once; any other account only when the server is the
// main process of the running "kestrix" unit, asked without blocking. While
// that is pending the socket's signals are held back, so nothing the server
// says is read before it is trusted. A socket that belongs to a third account
// is served by that account's daemon or by nobody.
Verdict verifyServer(QLocalSocket *socket, const std::function<void()> &recheck);

// The most a server may have sent by the time its verdict comes; a server
// that sent this much is refused. The socket holds no more than this meanwhile.
inline constexpr qint64 kMaxBytesBeforeTrust = qint64(64) * 1024;

// The account (uid in decimal) of the current connection's server when it was
// trusted as the main process of the service under an account of its own;
// empty for root, this user, or no verdict yet.
std::string serviceAccountOf(QLocalSocket *socket);

// The decision on its own: policy.serviceProcessId is the unit's main process
// (0 if none), endpointOwner the third account owning the socket path or -1.
bool isTrustedServer(const PeerIdentity &peer, const TrustPolicy &policy, long endpointOwner);

// How the unit's main process is asked; the default runs systemctl. Tests
// put a fake in its place, and an empty function restores the default.
using MainPidLookup = std::function<void(QObject *context, std::function<void(qint64 pid)> answer)>;
void setMainPidLookup(MainPidLookup lookup);

} // namespace DaemonPeer
