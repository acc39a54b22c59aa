#include "ipc/nativefile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace {

int openRetrying(const char *path, int flags)
{
    int fd;
    do {
        fd = ::open(path, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool isSmallRegularFile(const struct stat &st, std::int64_t maxBytes)
{
    return S_ISREG(st.st_mode) && st.st_size >= 0 && st.st_size <= maxBytes;
}

#ifdef __linux__
// Kernel file systems whose files are not what their size says: /proc and
// /sys report 0 or 4096 for files that produce other bytes when read (a
// process's environment, a device's state).
bool isKernelFileSystem(int fd)
{
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return true;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
        return true;
    default:
        return false;
    }
}
#endif

} // namespace

int openRegularFileDescriptor(const std::filesystem::path &path, LinkPolicy links,
                              std::int64_t maxBytes)
{
    const int nofollow = links == LinkPolicy::Refuse ? O_NOFOLLOW : 0;
#ifdef __linux__
    // Looked at before it is opened for reading: opening a device can have
    // effects of its own (/dev/ptmx makes a terminal), and a FIFO would wait.
    // An O_PATH descriptor opens nothing.
    const int pathFd = openRetrying(path.c_str(), O_PATH | O_CLOEXEC | nofollow);
    if (pathFd < 0)
        return -1;
    struct stat seen;
    if (::fstat(pathFd, &seen) != 0 || !isSmallRegularFile(seen, maxBytes) ||
        isKernelFileSystem(pathFd)) {
        ::close(pathFd);
        return -1;
    }
    // Reopened through the checked descriptor: the very file that was looked
    // at, whatever has since been put at its path.
    const std::string reopen = "/proc/self/fd/" + std::to_string(pathFd);
    int fd = openRetrying(reopen.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const bool noProc = fd < 0 && errno == ENOENT;
    if (noProc) // /proc not mounted: by path, and the same file or nothing
        fd = openRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | nofollow);
    ::close(pathFd);
#else
    struct stat seen;
    const int lookedAt =
        links == LinkPolicy::Refuse ? ::lstat(path.c_str(), &seen) : ::stat(path.c_str(), &seen);
    if (lookedAt != 0 || !isSmallRegularFile(seen, maxBytes))
        return -1;
    const int fd =
        openRetrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | nofollow);
#endif
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_dev != seen.st_dev || st.st_ino != seen.st_ino ||
        !isSmallRegularFile(st, maxBytes)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

MoveOutcome moveWithoutReplacing(const std::filesystem::path &from, const std::filesystem::path &to)
{
#ifdef __linux__
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return MoveOutcome::Moved;
    if (errno == EEXIST)
        return MoveOutcome::NameTaken;
    if (errno != EINVAL && errno != ENOSYS)
        return MoveOutcome::Failed;
        // A file system without that kind of rename: a hard link is created
        // exclusively too.
#endif
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno == EEXIST ? MoveOutcome::NameTaken : MoveOutcome::Failed;
    ::unlink(from.c_str());
    return MoveOutcome::Moved;
}
