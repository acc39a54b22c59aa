#include "ipc/privateruntimedir_unix.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opened without following a link in the last step, then judged by what was
// opened: a folder of this user that nobody else may enter.
bool isPrivateDir(const QString &path)
{
    if (!QDir::isAbsolutePath(path))
        return false;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info = {};
    const bool ok = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) &&
                    info.st_uid == ::geteuid() && (info.st_mode & 07777) == 0700;
    ::close(fd);
    return ok;
}

} // namespace

QString privateRuntimeDir()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isPrivateDir(runtime))
        return runtime;

    // Someone else may have taken this name first, as a folder or a link: then
    // it fails the check below and we go without.
    const QString own =
        QDir::tempPath() + QStringLiteral("/kestrix-runtime-") + QString::number(::geteuid());
    if (::mkdir(QFile::encodeName(own).constData(), 0700) != 0 && errno != EEXIST)
        return {};
    return isPrivateDir(own) ? own : QString();
}
