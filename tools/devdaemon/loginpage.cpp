#include "loginpage.h"

#include <QRandomGenerator>
#include <QTcpSocket>

namespace {

constexpr qsizetype kMaxRequestBytes = qsizetype{16} * 1024;
const char kBuffer[] = "requestBuffer";

QString reasonPhrase(int code)
{
    switch (code) {
    case 200:
        return QStringLiteral("OK");
    case 400:
        return QStringLiteral("Bad Request");
    case 404:
        return QStringLiteral("Not Found");
    case 405:
        return QStringLiteral("Method Not Allowed");
    case 410:
        return QStringLiteral("Gone");
    default:
        return QStringLiteral("Error");
    }
}

} // namespace

LoginPage::LoginPage(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        }
    });
}

bool LoginPage::listen(QString *error)
{
    if (m_server.listen(QHostAddress::LocalHost, 0))
        return true;
    *error = m_server.errorString();
    return false;
}

QString LoginPage::open(const QDateTime &expiresAt)
{
    m_nonce = QString::number(QRandomGenerator::system()->generate64(), 16);
    m_expiresAt = expiresAt;
    return QStringLiteral("http://127.0.0.1:%1/login/%2").arg(port()).arg(m_nonce);
}

void LoginPage::close()
{
    m_nonce.clear();
}

bool LoginPage::isLive(const QString &nonce) const
{
    return !m_nonce.isEmpty() && nonce == m_nonce && QDateTime::currentDateTimeUtc() < m_expiresAt;
}

void LoginPage::serve(QTcpSocket *socket)
{
    // Collect the request head and its body (a form post is a few bytes).
    QByteArray buffer = socket->property(kBuffer).toByteArray() + socket->readAll();
    if (buffer.size() > kMaxRequestBytes) {
        respond(socket, 400, QStringLiteral("Bad request"), QStringLiteral("Request too large."));
        return;
    }
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        socket->setProperty(kBuffer, buffer);
        return;
    }
    const QList<QByteArray> headLines = buffer.left(headEnd).split('\n');
    qsizetype contentLength = 0;
    for (const QByteArray &line : headLines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
            contentLength = line.mid(colon + 1).trimmed().toLongLong();
    }
    if (buffer.size() - (headEnd + 4) < contentLength) {
        socket->setProperty(kBuffer, buffer);
        return;
    }
    socket->setProperty(kBuffer, QVariant());

    const QList<QByteArray> request = headLines.constFirst().trimmed().split(' ');
    if (request.size() != 3) {
        respond(socket, 400, QStringLiteral("Bad request"), QStringLiteral("Malformed request."));
        return;
    }
    const QByteArray &method = request.at(0);
    const QList<QByteArray> path = request.at(1).split('?').constFirst().split('/');
    // "/login/<nonce>" or "/login/<nonce>/approve|deny"
    if (path.size() < 3 || path.size() > 4 || !path.at(0).isEmpty() || path.at(1) != "login") {
        respond(socket, 404, QStringLiteral("Not found"), QStringLiteral("No such page."));
        return;
    }
    const QString nonce = QString::fromLatin1(path.at(2));
    const QByteArray action = path.size() == 4 ? path.at(3) : QByteArray();
    if (!isLive(nonce)) {
        respond(socket, 410, QStringLiteral("Sign-in link expired"),
                QStringLiteral("<p>This sign-in link is no longer valid. Start the sign-in again "
                               "from Kestrix.</p>"));
        return;
    }

    if (action.isEmpty() && (method == "GET" || method == "HEAD")) {
        const QString form =
            QStringLiteral("<form method=\"post\" action=\"/login/%1/%2\">"
                           "<button type=\"submit\" class=\"%2\">%3</button></form>");
        respond(socket, 200, QStringLiteral("Sign in to Kestrix"),
                QStringLiteral("<p>The Kestrix app on this computer asks to sign you in.</p>"
                               "<p class=\"note\">Development daemon: no account is checked.</p>") +
                    form.arg(nonce, QStringLiteral("approve"), QStringLiteral("Approve")) +
                    form.arg(nonce, QStringLiteral("deny"), QStringLiteral("Decline")));
        return;
    }
    if (method != "POST" || (action != "approve" && action != "deny")) {
        respond(socket, 405, QStringLiteral("Not allowed"), QStringLiteral("Use the buttons."));
        return;
    }
    m_nonce.clear(); // one answer per offer
    if (action == "approve") {
        respond(socket, 200, QStringLiteral("Signed in"),
                QStringLiteral("<p>You are signed in. You can close this tab and return to "
                               "Kestrix.</p>"));
        emit approved();
    } else {
        respond(socket, 200, QStringLiteral("Sign-in declined"),
                QStringLiteral("<p>The sign-in was declined.</p>"));
        emit declined();
    }
}

void LoginPage::respond(QTcpSocket *socket, int code, const QString &title, const QString &body)
{
    const QByteArray html =
        QStringLiteral("<!doctype html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                       "<style>body{font-family:sans-serif;background:#12151c;color:#e8ebf1;"
                       "max-width:28em;margin:4em auto;text-align:center}"
                       "button{font-size:1.1em;padding:.6em 2em;margin:.4em;border:0;"
                       "border-radius:8px;cursor:pointer}.approve{background:#4c7dff;color:#fff}"
                       ".note{color:#8a93a3;font-size:.85em}</style></head>"
                       "<body><h1>%1</h1>%2</body></html>")
            .arg(title, body)
            .toUtf8();
    QByteArray response =
        "HTTP/1.1 " + QByteArray::number(code) + ' ' + reasonPhrase(code).toLatin1() +
        "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store" +
        "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(html.size()) + "\r\n\r\n" +
        html;
    socket->write(response);
    socket->disconnectFromHost();
}
