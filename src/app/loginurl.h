#pragma once

#include <QString>
#include <QUrl>

namespace LoginUrl {

// The sign-in page named by the daemon, in the form that may be handed to the
// browser: https with a host, or http to this machine's loopback (where the
// development daemon serves its page). The result is normalised and fully
// encoded, so the checked URL is the one opened. Empty when refused: user
// info or a backslash anywhere, control characters, other schemes, malformed.
QUrl openable(const QString &text);

} // namespace LoginUrl
