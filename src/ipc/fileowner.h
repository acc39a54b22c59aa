#pragma once

// Plain C++ on purpose: the Windows half is Win32 only and builds without Qt.

// Whether the file open on fd (a C runtime descriptor) belongs to the system
// or to the user this process runs as: the only owners whose files the
// daemon may hand us. Asked of the open descriptor, so the answer is about
// the file that will be read, not about whatever the path names a moment later.
bool isOwnedBySystemOrUs(int fd);
