#include "app/signinpage.h"

#include <QFile>
#include <QRandomGenerator>

namespace {

// For text and for double-quoted attribute values alike.
QString escaped(const QString &text)
{
    QString out = text.toHtmlEscaped();
    out.replace(QLatin1Char('\''), QLatin1String("&#39;"));
    return out;
}

QString randomName()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    QString name = QStringLiteral("kestrix-signin-");
    for (const quint32 word : words)
        name += QStringLiteral("%1").arg(word, 8, 16, QLatin1Char('0'));
    return name + QStringLiteral(".html");
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

std::unique_ptr<SignInPage> SignInPage::create(const QString &dir, const QUrl &target,
                                               const QString &linkText)
{
    if (dir.isEmpty() || !target.isValid())
        return nullptr;
    const QString path = dir + QLatin1Char('/') + randomName();
    // NewOnly creates the file or fails: it never opens what is already
    // there, a link included.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner))
        return nullptr;
    const QByteArray text = html(target, linkText);
    const bool written = file.write(text) == text.size() && file.flush();
    file.close();
    if (!written) {
        QFile::remove(path);
        return nullptr;
    }
    return std::unique_ptr<SignInPage>(new SignInPage(path));
}

SignInPage::~SignInPage()
{
    QFile::remove(m_path);
}
