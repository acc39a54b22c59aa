#pragma once

#include <QString>

#include <atomic>
#include <functional>

// Copies a diagnostics file named by the daemon into a folder the user sees.
//
// The source path comes from another process, so it is checked: its file-name
// part must be a plain name (isPlainFileName), and it must be a regular file
// owned by the system or by this user, opened without following a link and
// without blocking (a FIFO or device is refused), of at most maxBytes when
// opened and still when read. The copy is written to a new file created
// exclusively beside the destination and then renamed over it, so the
// destination is never written through a link and a failed copy leaves the
// file already there untouched.
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
};

QString copyDiagnostics(const QString &sourcePath, const QString &destinationDir,
                        const DiagCopyOptions &options);
QString copyDiagnostics(const QString &sourcePath, const QString &destinationDir,
                        qint64 maxBytes = kMaxDiagnosticsBytes);

// The text after the last slash or backslash.
QString diagFileName(const QString &sourcePath);

// A name that may be given to a file in the user's folder: not empty, "." or
// "..", no leading dot (nothing hidden, no ".bashrc"), no separator ("/",
// "\", or ":" which names a drive or a stream on Windows) and no control or
// format character (a line break, or a direction override that disguises
// the name where it is shown).
bool isPlainFileName(const QString &name);

// Where copies go: the desktop folder of the user's settings, else Downloads,
// else the home folder; the first that exists. Empty if none does.
QString diagnosticsFolder();
