#include "app/signinsession.h"

#include <QDesktopServices>

namespace {

// Windows hands the checked URL to the shell; elsewhere the browser gets the
// page from the loopback hand-off.
constexpr SignInFlow::Handover kHandover =
#ifdef Q_OS_WIN
    SignInFlow::Handover::Direct;
#else
    SignInFlow::Handover::Loopback;
#endif

} // namespace

SignInSession::SignInSession(QObject *parent)
    : QObject(parent),
      m_flow(kHandover, [](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
}
