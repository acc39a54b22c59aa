#pragma once

#include <QDBusConnection>

namespace SessionBus {

// The desktop session's bus, or a connection that is not connected when the
// session has none. Without an address in the environment or the standard
// socket in the runtime folder, libdbus would start a bus of its own for the
// X display (dbus-launch); nothing of ours would be on it to talk to.
QDBusConnection connection();

} // namespace SessionBus
