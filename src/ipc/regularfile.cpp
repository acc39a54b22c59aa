#include "ipc/regularfile.h"

#include <QDir>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

std::filesystem::path nativePath(const QString &path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

} // namespace

bool openRegularFile(QFile &file, const QString &path, LinkPolicy links, qint64 maxBytes)
{
    if (path.isEmpty())
        return false;
    const int fd = openRegularFileDescriptor(nativePath(path), links, maxBytes);
    if (fd < 0)
        return false;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
#ifdef Q_OS_WIN
    _close(fd);
#else
    ::close(fd);
#endif
    return false;
}

MoveOutcome moveWithoutReplacing(const QString &from, const QString &to)
{
    return moveWithoutReplacing(nativePath(from), nativePath(to));
}
