#pragma once

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QString>

// The environment of a kestrix process started by a test that touches
// nothing of the user's: its own configuration, home, temporary folder and
// runtime folder (private, as a session's is) under root, no session bus, no
// Wayland. The caller adds where the daemon is (KESTRIX_PIPE, PROGRAMDATA) and
// the display. The folders are made here.
inline QProcessEnvironment isolatedAppEnvironment(const QString &root)
{
    const QDir dir(root);
    for (const char *sub : {"config", "runtime", "home", "tmp"})
        dir.mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("TMPDIR"), dir.filePath(QStringLiteral("tmp")));
    env.remove(QStringLiteral("XDG_DESKTOP_DIR"));
    env.remove(QStringLiteral("PROGRAMDATA"));
    env.remove(QStringLiteral("KESTRIX_PIPE"));
    // Nothing outside the test is reached: balloons are drawn by the toolkit.
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.qpa.*=false"));
    return env;
}

// A copy of the binary alone in a folder of its own under root: the launcher
// looks for the daemon beside the running executable, and must find none.
// (A link would not do: the executable's path is the link's target.)
inline QString privateAppCopy(const QString &binary, const QString &root)
{
    const QString folder = root + QStringLiteral("/app");
    QDir().mkpath(folder);
    const QString copy = folder + QStringLiteral("/kestrix");
    QFile::remove(copy);
    if (!QFile::copy(binary, copy))
        return {};
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return copy;
}
