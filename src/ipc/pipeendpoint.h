#pragma once

#include <QString>

// Where the daemon listens and where its handshake token lives. Resolved in
// one place so the client, the development daemon and the tests agree.
namespace PipeEndpoint {

// The local-socket name handed to QLocalSocket/QLocalServer. On Windows the
// fixed named pipe; elsewhere $KESTRIX_PIPE when it is an absolute path,
// otherwise the system socket path.
QString serverName();

// Path of the token file under the program-data folder, or empty when
// PROGRAMDATA is unset or empty.
QString tokenFilePath();

inline constexpr qint64 kMaxTokenBytes = 4096;

// The token for the handshake: the file's content, trimmed; empty when the
// file is missing or unreadable, or is not a regular file of at most
// kMaxTokenBytes (a FIFO or device is refused without being opened for
// reading, a file under /proc or /sys whatever its size). Never blocks. Read
// afresh on every call.
QString readToken();

} // namespace PipeEndpoint
