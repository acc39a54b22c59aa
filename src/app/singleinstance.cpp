#include "app/singleinstance.h"

#include <QtGlobal>

QString singleInstanceName()
{
    static const QString kName = QStringLiteral("kestrix-ui-single");
#ifdef Q_OS_WIN
    return kName;
#else
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtimeDir.isEmpty())
        return kName;
    return runtimeDir + QLatin1Char('/') + kName;
#endif
}
