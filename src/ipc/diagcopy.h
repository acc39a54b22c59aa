#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <string>

// Copies a diagnostics file named by the daemon into a folder the user sees.
//
// The source path comes from another process, so it is checked: its file-name
// part must be a plain name (isPlainFileName), and it must be a regular file
// owned by the system, by this user or by the service account the daemon was
// trusted as, opened without following a link and without blocking (a FIFO
// or device is refused), of at most maxBytes when opened and still when read.
// The copy is written to a new file created exclusively beside the
// destination and then moved to a name nothing has yet: the file's own name,
// else "name (2).zip", "name (3).zip" and so on. Nothing already in the
// folder is replaced or written through, and a failed copy leaves nothing.
//
// Blocking file I/O: run it off the interface thread.
// Returns the destination path, or an empty string on failure.
inline constexpr qint64 kMaxDiagnosticsBytes = qint64(256) * 1024 * 1024;

struct DiagCopyOptions
{
    qint64 maxBytes = kMaxDiagnosticsBytes;
    // Looked at between chunks: once set, the copy is abandoned and leaves nothing.
    const std::atomic<bool> *cancelled = nullptr;
    // Called on the copying thread after each chunk is written; tests pace
    // the copy or grow its source with it.
    std::function<void()> afterChunk;
    // The account (uid in decimal) of a daemon trusted as the service's own
    // process: its files are accepted too. Empty: only the system's and ours.
    std::string serviceAccount;
};

// The most names tried for one copy before it fails.
inline constexpr int kMaxCopyNames = 100;

// The n-th name for a copy of name: name itself for 1, "name (n).ext" after.
QString numberedFileName(const QString &name, int n);

QString copyDiagnostics(const QString &sourcePath, const QString &destinationDir,
                        const DiagCopyOptions &options);
QString copyDiagnostics(const QString &sourcePath, const QString &destinationDir,
                        qint64 maxBytes = kMaxDiagnosticsBytes);

// The text after the last slash or backslash.
QString diagFileName(const QString &sourcePath);

// A name that may be given to a file in the user's folder: not empty, "." or
// "..", no leading dot (nothing hidden, no ".bashrc"), no separator ("/",
// "\", and on Windows ":", which names a drive or a stream there), and no
// code point that is a control or format character or a line or paragraph
// separator, astral ones included (a line break, a direction override or an
// invisible tag that disguises the name where it is shown).
bool isPlainFileName(const QString &name);

// Where copies go: the desktop folder of the user's settings, else Downloads,
// else the home folder; the first that exists. Empty if none does.
QString diagnosticsFolder();
