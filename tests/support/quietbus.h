#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The configuration of a private session bus that activates nothing: it
// names no service folders, so a notification server or panel installed on
// the machine (dunst, mako, Plasma's) is never started by a test's call, and
// a name nobody owns is an error at once. dbus-daemon --session would read
// the machine's own session.conf, which activates from every XDG data folder.
namespace QuietBus {

inline QByteArray config(const QByteArray &listen)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>session</type>\n  <listen>" +
           listen +
           "</listen>\n  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
           "  </policy>\n</busconfig>\n";
}

// Writes config(listen) to path; false if it cannot.
inline bool writeConfig(const QString &path, const QByteArray &listen)
{
    QFile file(path);
    const QByteArray text = config(listen);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

} // namespace QuietBus
