#pragma once

// Plain POSIX on purpose: the check is about file system entries, not Qt.

#include <string>
#include <sys/types.h>

// A daemon socket path that was looked at, component by component, before
// anything connects to it. Another local user must not be able to put a
// different server behind the name: no link anywhere on the way, every
// folder and the socket belong to root, to this user or to one other account
// (the daemon's own, proven after connecting), the folder that holds the
// socket is writable by nobody else, and the folders above it only when they
// are sticky (like /tmp). A socket not there yet in such a folder is
// accepted: connecting then fails as with any socket nobody serves.
class CheckedEndpoint
{
public:
    CheckedEndpoint() = default;
    CheckedEndpoint(CheckedEndpoint &&other) noexcept;
    CheckedEndpoint &operator=(CheckedEndpoint &&other) noexcept;
    CheckedEndpoint(const CheckedEndpoint &) = delete;
    CheckedEndpoint &operator=(const CheckedEndpoint &) = delete;
    ~CheckedEndpoint();

    bool accepted() const { return m_folderFd >= 0; }
    // Why it was not accepted; empty when it was.
    const std::string &refusal() const { return m_refusal; }
    // The account other than root and this user that owns the socket or a
    // folder on its way, or -1: only that account's daemon may then serve it.
    long otherOwner() const { return m_otherOwner; }

    // Where to connect: the socket's name inside the checked folder, reached
    // through the folder's open descriptor, so a folder swapped in since is
    // never used. Short, whatever the length of the path. Valid while this
    // object lives.
    std::string connectPath() const;

    // Closes the folder's descriptor once the connection is made or failed.
    void release();

    friend CheckedEndpoint checkEndpoint(const std::string &path, uid_t ownUser);

private:
    int m_folderFd = -1;
    std::string m_name;
    long m_otherOwner = -1;
    std::string m_refusal;
};

// Looks at path as ownUser would trust it. The path must be absolute, without
// "." or ".." components.
CheckedEndpoint checkEndpoint(const std::string &path, uid_t ownUser);
