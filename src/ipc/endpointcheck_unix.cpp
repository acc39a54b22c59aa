#include "ipc/endpointcheck_unix.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef O_PATH
// Elsewhere than Linux a read-only folder descriptor does the same job.
#define O_PATH O_RDONLY
#endif

namespace {

std::vector<std::string> componentsOf(const std::string &path)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (start <= path.size()) {
        const std::string::size_type end = path.find('/', start);
        const std::string part =
            path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty())
            parts.push_back(part);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return parts;
}

class Checker
{
public:
    explicit Checker(uid_t ownUser) : m_ownUser(ownUser) {}

    // Root and ourselves always; one further account at most.
    bool ownerAllowed(uid_t owner)
    {
        if (owner == 0 || owner == m_ownUser)
            return true;
        if (m_otherOwner < 0)
            m_otherOwner = long(owner);
        return m_otherOwner == long(owner);
    }

    long otherOwner() const { return m_otherOwner; }

private:
    uid_t m_ownUser;
    long m_otherOwner = -1;
};

std::string openFailure(int error)
{
    switch (error) {
    case ELOOP:
        return "a link on the way to the daemon's socket";
    case ENOTDIR:
        return "not a folder on the way to the daemon's socket";
    case ENOENT:
        return "no daemon socket";
    default:
        return "the daemon's socket cannot be looked at";
    }
}

} // namespace

CheckedEndpoint::CheckedEndpoint(CheckedEndpoint &&other) noexcept
    : m_folderFd(std::exchange(other.m_folderFd, -1)), m_name(std::move(other.m_name)),
      m_otherOwner(other.m_otherOwner), m_refusal(std::move(other.m_refusal))
{
}

CheckedEndpoint &CheckedEndpoint::operator=(CheckedEndpoint &&other) noexcept
{
    if (this != &other) {
        release();
        m_folderFd = std::exchange(other.m_folderFd, -1);
        m_name = std::move(other.m_name);
        m_otherOwner = other.m_otherOwner;
        m_refusal = std::move(other.m_refusal);
    }
    return *this;
}

CheckedEndpoint::~CheckedEndpoint()
{
    release();
}

void CheckedEndpoint::release()
{
    if (m_folderFd >= 0)
        ::close(m_folderFd);
    m_folderFd = -1;
}

std::string CheckedEndpoint::connectPath() const
{
    if (m_folderFd < 0)
        return {};
    return "/proc/self/fd/" + std::to_string(m_folderFd) + "/" + m_name;
}

CheckedEndpoint checkEndpoint(const std::string &path, uid_t ownUser)
{
    CheckedEndpoint result;
    auto refuse = [&result](std::string why) {
        result.m_refusal = std::move(why);
        return std::move(result);
    };
    if (path.empty() || path.front() != '/')
        return refuse("the daemon's socket path is not absolute");
    std::vector<std::string> parts = componentsOf(path);
    if (parts.empty() || path.back() == '/')
        return refuse("the daemon's socket path names a folder");
    for (const std::string &part : parts) {
        if (part == "." || part == "..")
            return refuse("the daemon's socket path is not plain");
    }
    const std::string name = parts.back();
    parts.pop_back();

    Checker checker(ownUser);
    int folder = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t i = 0;; ++i) {
        if (folder < 0)
            return refuse(openFailure(errno));
        struct stat st;
        if (::fstat(folder, &st) != 0 || !S_ISDIR(st.st_mode)) {
            ::close(folder);
            return refuse("not a folder on the way to the daemon's socket");
        }
        const bool last = i == parts.size();
        const bool othersMayWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        // In a sticky folder others may add names but not replace ours; the
        // socket's own folder must not take others' names at all.
        if (!checker.ownerAllowed(st.st_uid)) {
            ::close(folder);
            return refuse("a folder on the way to the daemon's socket belongs to another user");
        }
        if (othersMayWrite && (last || !(st.st_mode & S_ISVTX))) {
            ::close(folder);
            return refuse(last ? "the daemon's socket folder is open to others"
                               : "a folder on the way to the daemon's socket is open to others");
        }
        if (last)
            break;
        const int next =
            ::openat(folder, parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int openError = errno;
        ::close(folder);
        folder = next;
        errno = openError;
    }

    struct stat entry;
    if (::fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        const int error = errno;
        if (error != ENOENT) {
            ::close(folder);
            return refuse(openFailure(error));
        }
        // No daemon yet: connecting says so, as for any socket nobody serves.
        // Only root, this user or the folder's owner can put one there.
    } else if (!S_ISSOCK(entry.st_mode) || !checker.ownerAllowed(entry.st_uid)) {
        ::close(folder);
        return refuse(S_ISLNK(entry.st_mode)    ? "the daemon's socket is a link"
                      : S_ISSOCK(entry.st_mode) ? "the daemon's socket belongs to another user"
                                                : "the daemon's socket is not a socket");
    }
    result.m_folderFd = folder;
    result.m_name = name;
    result.m_otherOwner = checker.otherOwner();
    return result;
}
