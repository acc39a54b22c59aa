#pragma once

// Plain C++ on purpose: the Windows half is Win32 only and builds without Qt.

#include <string>

// Whether the file open on fd (a C runtime descriptor) belongs to the system,
// to the user this process runs as, or to serviceAccount (the account a
// daemon was trusted as, uid in decimal or SID text; empty for none): the
// only owners whose files the daemon may hand us. Asked of the open
// descriptor, so the answer is about the file that will be read, not about
// whatever the path names a moment later.
bool isOwnedByTrustedAccount(int fd, const std::string &serviceAccount);
