#include "app/singleinstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#ifdef Q_OS_WIN
#include "app/win32session.h"
#else
#include "ipc/peercredentials_unix.h"
#include "ipc/privateruntimedir_unix.h"
#endif

namespace {

#ifndef Q_OS_WIN
// The kernel's word on who serves the other end, as recorded when it listened:
// this very user, not root and not anyone else.
bool servedByThisUser(const QLocalSocket &socket)
{
    const PeerIdentity server = peerIdentityOfSocket(int(socket.socketDescriptor()));
    return server.known && server.user == currentTrustPolicy().ownUser;
}
#endif

} // namespace

QString singleInstanceName()
{
#ifdef Q_OS_WIN
    // Named pipes are machine-wide: one name per session.
    return QString::fromStdWString(Win32::singleInstanceName());
#else
    const QString runtimeDir = privateRuntimeDir();
    if (runtimeDir.isEmpty())
        return {};
    return runtimeDir + QStringLiteral("/kestrix-ui-single");
#endif
}

bool tellRunningInstanceToShow(const QString &name, int waitMs)
{
    if (name.isEmpty())
        return false;
    QLocalSocket probe;
    probe.connectToServer(name, QIODevice::ReadWrite);
    if (!probe.waitForConnected(waitMs))
        return false;
#ifndef Q_OS_WIN
    if (!servedByThisUser(probe))
        return false;
#endif
    probe.write("show", 4);
    probe.flush();
    probe.waitForBytesWritten(waitMs);
    return true;
}

bool listenAsSingleInstance(QLocalServer &server, const QString &name)
{
    if (name.isEmpty())
        return false;
    QLocalServer::removeServer(name);
    server.setSocketOptions(QLocalServer::UserAccessOption);
    return server.listen(name);
}
