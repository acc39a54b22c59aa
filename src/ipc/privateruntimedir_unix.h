#pragma once

#include <QString>

// Unix: the folder for this user's sockets and short-lived files that no other
// user may see or place anything in. $XDG_RUNTIME_DIR when it is a real
// folder (not a link) owned by us with mode 0700; otherwise a folder of our
// own in the temporary directory, created with mode 0700 and checked the same
// way. Empty when neither can be had: callers then go without, never to a
// shared place.
QString privateRuntimeDir();
