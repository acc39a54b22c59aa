#include "ipc/nativefile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int openRegularFileDescriptor(const std::filesystem::path &path, LinkPolicy links,
                              std::int64_t maxBytes)
{
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer.
    int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (links == LinkPolicy::Refuse)
        flags |= O_NOFOLLOW;
    int fd;
    do {
        fd = ::open(path.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxBytes) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool replaceFile(const std::filesystem::path &from, const std::filesystem::path &to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}
