#include "tray/sessionbus.h"

#include <QFileInfo>

namespace SessionBus {

QDBusConnection connection()
{
    const QByteArray runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    const bool announced =
        !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
        (!runtimeDir.isEmpty() &&
         QFileInfo(QFile::decodeName(runtimeDir) + QStringLiteral("/bus")).exists());
    if (announced)
        return QDBusConnection::sessionBus();
    return QDBusConnection(QStringLiteral("kestrix-no-session-bus")); // never connected
}

} // namespace SessionBus
