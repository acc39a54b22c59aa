#pragma once

// Plain C++ on purpose: the Windows half is Win32 only and builds without Qt.

#include <cstdint>
#include <filesystem>

enum class LinkPolicy
{
    Follow, // a link to a regular file is as good as the file
    Refuse, // the last path component must not be a link (or, on Windows, any reparse point)
};

// Opens a file for reading when, and only when, it is a regular file of at
// most maxBytes. Never blocks: a FIFO or device is refused, not waited on, and
// on Linux is refused before it is opened for reading at all. Files of kernel
// file systems (/proc, /sys and the like), whose size says nothing of what
// they produce, are refused too.
// Returns a C runtime descriptor open for reading (the caller closes it), or -1.
int openRegularFileDescriptor(const std::filesystem::path &path, LinkPolicy links,
                              std::int64_t maxBytes);

enum class MoveOutcome
{
    Moved,
    NameTaken, // something, a link included, already has the name: left as it is
    Failed,
};

// Gives a file another name in the same folder only if nothing has that name
// yet, in one step, so a file or link put there meanwhile is never replaced.
MoveOutcome moveWithoutReplacing(const std::filesystem::path &from,
                                 const std::filesystem::path &to);
