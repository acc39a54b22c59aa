#include "app/singleinstance.h"

#include <QtGlobal>

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
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtimeDir.isEmpty())
        return kName;
    return runtimeDir + QLatin1Char('/') + kName;
#endif
}
