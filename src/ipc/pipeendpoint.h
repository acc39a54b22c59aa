#pragma once

#include <QString>

// Where the daemon listens and where its handshake token lives. Resolved in
// one place so the client, the development daemon and the tests agree.
namespace PipeEndpoint {

// The local-socket name handed to QLocalSocket/QLocalServer. On Windows the
// fixed named pipe; elsewhere $KESTRIX_PIPE when set and not empty, otherwise
// the system socket path.
QString serverName();

// Path of the token file under the program-data folder, or empty when
// PROGRAMDATA is unset or empty.
QString tokenFilePath();

// The token for the handshake: the file's content, trimmed; empty when the
// file is missing or unreadable. Read afresh on every call.
QString readToken();

} // namespace PipeEndpoint
