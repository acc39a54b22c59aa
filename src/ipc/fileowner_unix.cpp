#include "ipc/fileowner.h"

#include <sys/stat.h>
#include <unistd.h>

bool isOwnedByTrustedAccount(int fd, const std::string &serviceAccount)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    return st.st_uid == 0 || st.st_uid == ::geteuid() ||
           (!serviceAccount.empty() && serviceAccount == std::to_string(st.st_uid));
}
