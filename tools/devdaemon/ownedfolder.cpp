#include "ownedfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

#ifdef Q_OS_UNIX

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Why a folder may not hold our files; empty when it may.
QString privacyProblem(const struct stat &info)
{
    if (info.st_uid != ::geteuid())
        return QStringLiteral("it belongs to uid %1, not to this user (uid %2)")
            .arg(info.st_uid)
            .arg(::geteuid());
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("others may write into it (mode %1); chmod go-w it")
            .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

} // namespace

OwnedFolder::~OwnedFolder()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool OwnedFolder::open(const QString &path, Check check, QString *error)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QByteArray native = QFile::encodeName(absolute);
    if (!QDir().mkpath(QFileInfo(absolute).absolutePath()) ||
        (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)) {
        *error = QStringLiteral("cannot create %1: %2").arg(absolute, systemError());
        return false;
    }
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (check == Check::Private)
        flags |= O_NOFOLLOW; // a link here could be pointed anywhere, any time
    const int fd = ::open(native.constData(), flags);
    if (fd < 0) {
        *error = errno == ELOOP || errno == ENOTDIR
                     ? QStringLiteral("%1 is not a folder of its own (a link?)").arg(absolute)
                     : QStringLiteral("cannot open %1: %2").arg(absolute, systemError());
        return false;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        *error = QStringLiteral("cannot examine %1: %2").arg(absolute, systemError());
        ::close(fd);
        return false;
    }
    if (check == Check::Private) {
        if (const QString problem = privacyProblem(info); !problem.isEmpty()) {
            *error = QStringLiteral("refusing %1: %2").arg(absolute, problem);
            ::close(fd);
            return false;
        }
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    m_path = absolute;
    return true;
}

bool OwnedFolder::isOpen() const
{
    return m_fd >= 0;
}

bool OwnedFolder::replace(const QString &name, const QByteArray &content, QString *error) const
{
    const QByteArray finalName = QFile::encodeName(name);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = '.' + finalName + '.' +
                    QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        fd = ::openat(m_fd, temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *error = QStringLiteral("cannot write into %1: %2").arg(m_path, systemError());
        return false;
    }
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, content.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    const bool complete = written == content.size();
    const QString writeError = systemError();
    const bool closed = ::close(fd) == 0;
    // rename() replaces whatever has the name, a link included, and never
    // touches what a link points to.
    if (!complete || !closed ||
        ::renameat(m_fd, temporary.constData(), m_fd, finalName.constData()) != 0) {
        *error = QStringLiteral("cannot write %1/%2: %3")
                     .arg(m_path, name, complete ? systemError() : writeError);
        ::unlinkat(m_fd, temporary.constData(), 0);
        return false;
    }
    return true;
}

std::optional<QByteArray> OwnedFolder::read(const QString &name, qint64 maxBytes) const
{
    const int fd = ::openat(m_fd, QFile::encodeName(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxBytes) {
        ::close(fd);
        return std::nullopt;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    return file.read(maxBytes);
}

#else // Windows: ACLs, not modes, guard its program-data folder; by path.

OwnedFolder::~OwnedFolder() = default;

bool OwnedFolder::open(const QString &path, Check, QString *error)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (!QDir().mkpath(absolute)) {
        *error = QStringLiteral("cannot create %1").arg(absolute);
        return false;
    }
    m_path = absolute;
    return true;
}

bool OwnedFolder::isOpen() const
{
    return !m_path.isEmpty();
}

bool OwnedFolder::replace(const QString &name, const QByteArray &content, QString *error) const
{
    QSaveFile file(m_path + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    return true;
}

std::optional<QByteArray> OwnedFolder::read(const QString &name, qint64 maxBytes) const
{
    QFile file(m_path + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxBytes)
        return std::nullopt;
    return file.read(maxBytes);
}

#endif
