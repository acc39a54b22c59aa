#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// A short page that forwards the browser to the sign-in URL. The browser is
// handed this page (see LoopbackHandoff) instead of the URL, so the URL's
// one-time code never appears on a command line, where every local user can
// read it.
namespace SignInPage {

// The page's text: a refresh to target at once, and a link to it for a
// browser that does not follow refreshes. Everything written into it is
// escaped for HTML; it holds no script.
QByteArray html(const QUrl &target, const QString &linkText);

} // namespace SignInPage
