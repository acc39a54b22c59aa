#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A folder the daemon writes its files into, opened once and then used
// through that handle: a name renamed or linked into its path later does not
// change where the files go, and no file is ever written through a link.
class OwnedFolder
{
public:
    enum class Check
    {
        Private, // must be this user's, writable by nobody else, not a link
        Any,     // whatever folder the user named
    };

    OwnedFolder() = default;
    ~OwnedFolder();
    OwnedFolder(const OwnedFolder &) = delete;
    OwnedFolder &operator=(const OwnedFolder &) = delete;

    // Opens path, creating it (mode 0700, parents as usual) when missing.
    // False with a reason when it cannot be had or fails the check.
    bool open(const QString &path, Check check, QString *error);
    bool isOpen() const;
    QString path() const { return m_path; }

    // Replaces the file `name` in the folder with content, readable and
    // writable by this user only: written to a new file (O_EXCL, O_NOFOLLOW)
    // and renamed over the name, so a link found there is replaced, never
    // followed.
    bool replace(const QString &name, const QByteArray &content, QString *error) const;

    // The content of `name` when it is a regular file (not a link) of at
    // most maxBytes.
    std::optional<QByteArray> read(const QString &name, qint64 maxBytes) const;

private:
    QString m_path;
#ifdef Q_OS_UNIX
    int m_fd = -1;
#endif
};
