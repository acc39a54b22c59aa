#pragma once

#include <QByteArray>
#include <QString>

// The freedesktop.org autostart entry that stands in for the Windows Run value
// on other systems: $XDG_CONFIG_HOME/autostart/kestrix.desktop.
namespace XdgAutostart {

// $XDG_CONFIG_HOME/autostart/kestrix.desktop; ~/.config is used when the
// variable is unset, empty or not an absolute path.
QString entryPath();

// The Exec value that starts `executable` hidden in the tray: the path as one
// quoted argument, then --minimized, escaped for a desktop entry file.
QString execValue(const QString &executable);

// The whole desktop entry for `executable`, UTF-8.
QByteArray entryContents(const QString &executable);

// False for an entry the desktop has switched off (Hidden=true, or GNOME's
// X-GNOME-Autostart-enabled=false): the session skips it, so it is no entry.
bool isEnabledEntry(const QByteArray &contents);

} // namespace XdgAutostart
