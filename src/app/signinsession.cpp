#include "app/signinsession.h"

#include <QDesktopServices>

#ifndef Q_OS_WIN
#include "ipc/privateruntimedir_unix.h"
#endif

namespace {

// Where the forwarding pages go. Windows has no per-user private folder
// here, and opens the checked URL itself.
QString pageDir()
{
#ifdef Q_OS_WIN
    return {};
#else
    return privateRuntimeDir();
#endif
}

} // namespace

SignInSession::SignInSession(QObject *parent)
    : QObject(parent),
      m_flow(pageDir(), [](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
}
