#include "daemon/commandlines.h"

namespace CommandLines {

QString daemon(const QString &nativeExecutable)
{
    return QLatin1Char('"') + nativeExecutable + QStringLiteral("\" --foreground");
}

QString relaunch(const QString &nativeScript)
{
    return QStringLiteral("cmd.exe /c \"\"") + nativeScript + QStringLiteral("\"\"");
}

} // namespace CommandLines
