#include "app/loopbackhandoff.h"

#include "app/signinpage.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>

namespace {

// 128 bits from the system's generator, as URL-safe text.
QByteArray newToken()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char *>(words), sizeof(words))
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// Compares without stopping at the first difference, so the time taken
// says nothing of how much of a guess was right.
bool sameText(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return diff == 0;
}

QByteArray response(const QByteArray &status, const QByteArray &type, const QByteArray &body,
                    const QByteArray &extraHeaders = {})
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n" + extraHeaders +
           "Connection: close\r\n\r\n" + body;
}

const QByteArray kNotFound = response("404 Not Found", "text/plain; charset=utf-8", "Not found\n");

} // namespace

LoopbackHandoff::LoopbackHandoff(QObject *parent) : QObject(parent)
{
    m_server.setMaxPendingConnections(kMaxConnections);
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHandoff::accept);
}

LoopbackHandoff::~LoopbackHandoff()
{
    close();
}

bool LoopbackHandoff::open(const QUrl &target, const QString &linkText)
{
    if (m_server.isListening() || m_served || !target.isValid())
        return false;
    m_token = newToken();
    setTarget(target, linkText);
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void LoopbackHandoff::setTarget(const QUrl &target, const QString &linkText)
{
    m_page = SignInPage::html(target, linkText);
}

void LoopbackHandoff::close()
{
    m_server.close();
    const QList<QTcpSocket *> sockets = m_requests.keys();
    for (QTcpSocket *socket : sockets)
        drop(socket);
}

QUrl LoopbackHandoff::url() const
{
    if (!m_server.isListening())
        return {};
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_server.serverPort());
    url.setPath(QLatin1Char('/') + QString::fromLatin1(m_token));
    return url;
}

void LoopbackHandoff::accept()
{
    while (m_server.hasPendingConnections()) {
        QTcpSocket *socket = m_server.nextPendingConnection();
        if (m_requests.size() >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_requests.insert(socket, {});
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
        // A client that is slow to ask, or to take its answer, loses its place.
        QTimer::singleShot(m_requestTimeoutMs, socket, [this, socket] { drop(socket); });
        // Another user's program learns nothing, whatever it asks.
        if (m_ownerOf(*socket) != TcpClientOwner::Us) {
            reply(socket, kNotFound);
            continue;
        }
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        read(socket);
    }
}

void LoopbackHandoff::read(QTcpSocket *socket)
{
    auto it = m_requests.find(socket);
    if (it == m_requests.end())
        return;
    it->append(socket->read(kMaxRequestBytes + 1 - it->size()));
    const qsizetype end = it->indexOf("\r\n\r\n");
    if (end >= 0) {
        socket->disconnect(this);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
        answer(socket, it->left(end));
        return;
    }
    if (it->size() > kMaxRequestBytes)
        drop(socket);
}

void LoopbackHandoff::answer(QTcpSocket *socket, const QByteArray &request)
{
    const qsizetype lineEnd = request.indexOf("\r\n");
    const QList<QByteArray> parts = request.left(lineEnd < 0 ? request.size() : lineEnd).split(' ');
    const bool ours = parts.size() == 3 && parts.at(0) == "GET" &&
                      parts.at(2).startsWith("HTTP/1.") && parts.at(1).startsWith('/') &&
                      sameText(parts.at(1).mid(1), m_token);
    if (!ours || m_served) {
        reply(socket, kNotFound);
        return;
    }
    m_served = true;
    reply(socket, response("200 OK", "text/html; charset=utf-8", m_page,
                           "Referrer-Policy: no-referrer\r\n"));
    m_page.clear();
    // Nobody else needs to reach it now.
    m_server.close();
    emit served();
}

void LoopbackHandoff::reply(QTcpSocket *socket, const QByteArray &response)
{
    socket->write(response);
    // Closes once the answer is out; the disconnect then drops the socket.
    socket->disconnectFromHost();
}

void LoopbackHandoff::drop(QTcpSocket *socket)
{
    if (!m_requests.remove(socket))
        return;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}
