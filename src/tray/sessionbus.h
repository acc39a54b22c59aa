#pragma once

#include <QDBusConnection>

namespace SessionBus {

// Where libdbus is sent when the session has no bus: under /dev/null, where
// no one can ever make a socket.
inline constexpr char kNowhereAddress[] = "unix:path=/dev/null/kestrix-no-session-bus";

// Whether the session has a bus: an address in the environment, or the
// standard socket in the runtime folder as libdbus accepts it (a socket of
// this user's).
bool announced();

// Before the application object exists. Without an announced bus, libdbus
// would start one of its own for the X display (`dbus-launch --autolaunch`,
// which also finds a bus through the X server's properties) as soon as
// anything asks for the session bus: Qt's accessibility bridge, its tray,
// its platform theme. Pointing the environment at kNowhereAddress makes
// every such question fail at once instead; the app then runs without the
// desktop's D-Bus features.
void preventAutolaunch();

// The desktop session's bus, or a connection that is not connected when the
// session has none.
QDBusConnection connection();

} // namespace SessionBus
