#include "app/loginurl.h"

#include <QStringView>

namespace LoginUrl {
namespace {

// Parsers disagree about these (a browser reads "\" as "/" and splits user
// info differently), so they are refused as written, before any parser runs.
bool hasAmbiguousText(QStringView text)
{
    for (const QChar c : text) {
        if (c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    // "@" in the authority as written: after "scheme://", up to the path,
    // query or fragment.
    const qsizetype start = text.indexOf(u"://");
    if (start < 0)
        return false;
    const QStringView authority = text.mid(start + 3);
    for (const QChar c : authority) {
        if (c == u'/' || c == u'?' || c == u'#')
            break;
        if (c == u'@')
            return true;
    }
    return false;
}

bool isLoopbackHost(const QString &host)
{
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
           host == QLatin1String("::1");
}

} // namespace

QUrl openable(const QString &text)
{
    if (text.isEmpty() || hasAmbiguousText(text))
        return {};
    const QUrl parsed(text, QUrl::StrictMode);
    if (!parsed.isValid())
        return {};
    // Checked and opened: the normalised, fully encoded form, read back.
    const QByteArray encoded = parsed.toEncoded(QUrl::FullyEncoded);
    const QUrl url = QUrl::fromEncoded(encoded, QUrl::StrictMode);
    if (!url.isValid() || url.toEncoded(QUrl::FullyEncoded) != encoded)
        return {};
    if (!url.userInfo().isEmpty())
        return {};

    const QString host = url.host(QUrl::FullyEncoded);
    if (host.isEmpty())
        return {};
    if (url.scheme() == QLatin1String("https"))
        return url;
    if (url.scheme() == QLatin1String("http") && isLoopbackHost(host))
        return url;
    return {};
}

} // namespace LoginUrl
