#include "app/signinpage.h"

namespace {

// For text and for double-quoted attribute values alike.
QString escaped(const QString &text)
{
    QString out = text.toHtmlEscaped();
    out.replace(QLatin1Char('\''), QLatin1String("&#39;"));
    return out;
}

} // namespace

QByteArray SignInPage::html(const QUrl &target, const QString &linkText)
{
    const QString url = escaped(QString::fromLatin1(target.toEncoded(QUrl::FullyEncoded)));
    const QString text = escaped(linkText);
    // The refresh's URL is not quoted: it runs to the end of the attribute,
    // so a quote inside the URL cannot cut it short.
    return QStringLiteral("<!DOCTYPE html>\n"
                          "<html><head><meta charset=\"utf-8\">\n"
                          "<meta name=\"referrer\" content=\"no-referrer\">\n"
                          "<meta http-equiv=\"refresh\" content=\"0;url=%1\">\n"
                          "<title>%2</title></head>\n"
                          "<body><p><a href=\"%1\">%2</a></p></body></html>\n")
        .arg(url, text)
        .toUtf8();
}
