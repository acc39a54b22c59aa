#include "ipc/pipeendpoint.h"

#include "ipc/regularfile.h"

#include <QFile>
#include <QtGlobal>

namespace PipeEndpoint {

QString serverName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\pipe\\kestrix");
#else
    // Only a full path: Qt puts any other name in the shared temporary folder,
    // where another local user could serve it first.
    const QString fromEnv = qEnvironmentVariable("KESTRIX_PIPE");
    if (fromEnv.startsWith(QLatin1Char('/')))
        return fromEnv;
    return QStringLiteral("/run/kestrix/kestrix.sock");
#endif
}

QString tokenFilePath()
{
    const QString programData = qEnvironmentVariable("PROGRAMDATA");
    if (programData.isEmpty())
        return {};
#ifdef Q_OS_WIN
    return programData + QStringLiteral("\\Kestrix\\pipe.token");
#else
    return programData + QStringLiteral("/Kestrix/pipe.token");
#endif
}

QString readToken()
{
    const QString path = tokenFilePath();
    if (path.isEmpty())
        return {};
    // A link to the daemon's file is fine; a FIFO, device, kernel file or
    // oversized file is not.
    QFile file;
    if (!openRegularFile(file, path, LinkPolicy::Follow, kMaxTokenBytes))
        return {};
    const QByteArray bytes = file.read(kMaxTokenBytes + 1);
    if (bytes.size() > kMaxTokenBytes)
        return {};
    return QString::fromUtf8(bytes).trimmed();
}

} // namespace PipeEndpoint
