#pragma once

#include <QString>

// Copies a diagnostics file named by the daemon into a folder the user sees.
//
// The source path comes from another process, so it is checked: its file-name
// part must be a real name (not empty, "." or ".."), and it must be a regular
// file of at most maxBytes, opened without following a link and without
// blocking (a FIFO or device is refused). The copy is written to a new file
// created exclusively beside the destination and then renamed over it, so
// the destination is never written through a link and a failed copy leaves
// the file already there untouched.
//
// Blocking file I/O: run it off the interface thread.
// Returns the destination path, or an empty string on failure.
inline constexpr qint64 kMaxDiagnosticsBytes = qint64(256) * 1024 * 1024;
QString copyDiagnostics(const QString &sourcePath, const QString &destinationDir,
                        qint64 maxBytes = kMaxDiagnosticsBytes);

// The text after the last slash or backslash.
QString diagFileName(const QString &sourcePath);

// Where copies go: the desktop folder of the user's settings, else Downloads,
// else the home folder; the first that exists. Empty if none does.
QString diagnosticsFolder();
