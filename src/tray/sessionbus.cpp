#include "tray/sessionbus.h"

#include <QByteArray>

#include <sys/stat.h>
#include <unistd.h>

namespace SessionBus {

bool announced()
{
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty())
        return address != kNowhereAddress;
    const QByteArray runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    if (runtimeDir.isEmpty())
        return false;
    struct stat info = {};
    const QByteArray socket = runtimeDir + "/bus";
    return ::lstat(socket.constData(), &info) == 0 && S_ISSOCK(info.st_mode) &&
           info.st_uid == ::getuid();
}

void preventAutolaunch()
{
    if (!announced())
        qputenv("DBUS_SESSION_BUS_ADDRESS", kNowhereAddress);
}

QDBusConnection connection()
{
    if (announced())
        return QDBusConnection::sessionBus();
    return QDBusConnection(QStringLiteral("kestrix-no-session-bus")); // never connected
}

} // namespace SessionBus
