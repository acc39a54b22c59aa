#include "ipc/pipeendpoint.h"

#include <QFile>
#include <QtGlobal>

namespace PipeEndpoint {

QString serverName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\pipe\\kestrix");
#else
    const QString fromEnv = qEnvironmentVariable("KESTRIX_PIPE");
    if (!fromEnv.isEmpty())
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

} // namespace PipeEndpoint
