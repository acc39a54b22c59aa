#pragma once

#include <QString>

class QProcess;

// The programs this app starts come from the system, never from the user's
// PATH or working folder: an empty or "." entry in PATH, or a start from a
// shared folder, would otherwise run whatever another user left there.
namespace SystemTools {

// The PATH every started process gets, so that what it runs in turn comes
// from the same folders.
inline constexpr char kPath[] = "/usr/bin:/bin";

// The full path of the program of that name in /usr/bin or else /bin; empty
// when neither holds one (the step that needs it then fails).
QString path(const QString &name);

// Prepares a process before its start: our environment with PATH set to
// kPath, and workingFolder (the file system's root unless given) to run in.
void confine(QProcess &process, const QString &workingFolder = QStringLiteral("/"));

} // namespace SystemTools
