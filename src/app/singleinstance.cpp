#include "app/singleinstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#ifndef Q_OS_WIN
#include "app/privateruntimedir.h"

#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifndef Q_OS_WIN
// The kernel's word on who serves the other end, as recorded when it listened.
bool servedByThisUser(const QLocalSocket &socket)
{
    const qintptr fd = socket.socketDescriptor();
    if (fd < 0)
        return false;
#ifdef __linux__
    struct ucred credentials = {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(fd), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials)
        return false;
    return credentials.uid == ::geteuid();
#else
    uid_t uid = 0;
    gid_t gid = 0;
    return ::getpeereid(int(fd), &uid, &gid) == 0 && uid == ::geteuid();
#endif
}
#endif

} // namespace

#ifdef Q_OS_WIN
#include "app/win32session.h"
#endif

QString singleInstanceName()
{
    static const QString kName = QStringLiteral("kestrix-ui-single");
#ifdef Q_OS_WIN
    // Named pipes are machine-wide: one name per session.
    return QString::fromStdWString(Win32::singleInstanceName());
#else
    const QString runtimeDir = privateRuntimeDir();
    if (runtimeDir.isEmpty())
        return {};
    return runtimeDir + QLatin1Char('/') + kName;
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
