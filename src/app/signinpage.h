#pragma once

#include <QString>
#include <QUrl>

#include <memory>

// A short page that forwards the browser to the sign-in URL. The browser is
// handed this file instead of the URL, so the URL's one-time code never
// appears on a command line, where every local user can read it. The file
// lives in a private folder, is readable by its owner only, and is removed
// with this object.
class SignInPage
{
public:
    // Writes the page for target (an already checked URL) under a fresh random
    // name in dir. Null when the file cannot be made there: the name is never
    // reused, and nothing already there (a file, a link) is followed or
    // overwritten.
    static std::unique_ptr<SignInPage> create(const QString &dir, const QUrl &target,
                                              const QString &linkText);
    ~SignInPage();

    SignInPage(const SignInPage &) = delete;
    SignInPage &operator=(const SignInPage &) = delete;

    QString path() const { return m_path; }
    QUrl fileUrl() const { return QUrl::fromLocalFile(m_path); }

    // The page's text: a refresh to target at once, and a link to it for a
    // browser that does not follow refreshes. Everything written into it is
    // escaped for HTML.
    static QByteArray html(const QUrl &target, const QString &linkText);

private:
    explicit SignInPage(QString path) : m_path(std::move(path)) {}

    QString m_path;
};
