#include "ipc/fileowner.h"

#include <sys/stat.h>
#include <unistd.h>

bool isOwnedBySystemOrUs(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    return st.st_uid == 0 || st.st_uid == ::geteuid();
}
