#pragma once

#include <QString>

// Copies a diagnostics file named by the daemon into a folder (the desktop).
//
// The source path comes from another process, so it is checked: its file-name
// part must be a real name (not empty, "." or ".."), and it must be a regular
// file, not a directory, device or symbolic link. The copy goes to a
// temporary name beside the destination and then replaces it, so a failure
// never loses a file that was already there.
//
// Returns the destination path, or an empty string on failure.
QString copyDiagnostics(const QString &sourcePath, const QString &destinationDir);

// The text after the last slash or backslash.
QString diagFileName(const QString &sourcePath);
