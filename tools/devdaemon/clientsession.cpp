#include "clientsession.h"

#include "ipc/protocol.h"

#include <QLocalSocket>

#include <utility>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

// How long a refused client may keep talking before it is cut off.
constexpr int kLingerMs = 2000;

} // namespace

ClientSession::ClientSession(QLocalSocket *socket, int handshakeTimeoutMs, QObject *parent)
    : QObject(parent), m_socket(socket)
{
    m_socket->setParent(this);
    connect(m_socket, &QLocalSocket::readyRead, this, &ClientSession::onReadyRead);
    // Queued: the owner forgets the session, which must not happen in the
    // middle of a send to it.
    connect(
        m_socket, &QLocalSocket::disconnected, this,
        [this] {
            if (!std::exchange(m_closedSent, true))
                emit closed();
        },
        Qt::QueuedConnection);

    m_handshakeTimer.setSingleShot(true);
    connect(&m_handshakeTimer, &QTimer::timeout, this, [this] {
        reject(QJsonObject{{QStringLiteral("type"), QStringLiteral("error")},
                           {QStringLiteral("error"), QStringLiteral("handshake timed out")}});
    });
    m_handshakeTimer.start(handshakeTimeoutMs);
}

void ClientSession::setReady()
{
    m_ready = true;
    m_handshakeTimer.stop();
}

void ClientSession::onReadyRead()
{
    if (m_closing) {
        m_socket->readAll(); // refused: what it still says is not read
        return;
    }
    m_buffer += m_socket->readAll();
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = m_buffer.indexOf('\n', start);
        if (end < 0)
            break;
        const QByteArray raw = m_buffer.mid(start, end - start);
        start = end + 1;
        if (m_discarding) { // the tail of a line that was too long to keep
            m_discarding = false;
            continue;
        }
        // The shared reader applies the protocol's own rules for one line.
        const QList<QJsonObject> objects = m_parser.feed(raw + '\n');
        const bool isObject = !objects.isEmpty();
        emit lineReceived(raw, isObject ? objects.constFirst() : QJsonObject(), isObject);
        if (m_closing)
            return;
    }
    m_buffer.remove(0, start);
    if (m_buffer.size() > LineReader::kMaxLineBytes) {
        m_buffer.clear();
        m_discarding = true;
    }
}

void ClientSession::send(const QJsonObject &event)
{
    sendLine(Protocol::encode(event).chopped(1));
}

void ClientSession::sendLine(const QByteArray &line)
{
    if (m_closing || m_socket->state() != QLocalSocket::ConnectedState)
        return;
    m_socket->write(line + '\n');
    m_socket->flush();
    // A client that does not read would make us hold its events for ever.
    if (m_socket->bytesToWrite() > kMaxUnsentBytes)
        drop();
}

void ClientSession::drop()
{
    m_closing = true;
    m_buffer.clear();
    m_handshakeTimer.stop();
    m_socket->abort();
    if (!m_closedSent) {
        m_closedSent = true;
        QMetaObject::invokeMethod(this, &ClientSession::closed, Qt::QueuedConnection);
    }
}

void ClientSession::reject(const QJsonObject &event)
{
    send(event);
    m_handshakeTimer.stop();
    m_closing = true;
    m_buffer.clear();
#ifdef Q_OS_UNIX
    // Closing with bytes of the client unread would reset the connection,
    // and the reset can take the refusal with it. So only our side is shut;
    // the client's last words are read and dropped until it hangs up, or
    // for a short while.
    m_socket->flush();
    const int fd = int(m_socket->socketDescriptor());
    if (m_socket->bytesToWrite() == 0 && fd >= 0 && ::shutdown(fd, SHUT_WR) == 0) {
        m_socket->readAll();
        QTimer::singleShot(kLingerMs, this, [this] { m_socket->abort(); });
        return;
    }
#endif
    m_socket->disconnectFromServer(); // waits for pending bytes to leave
}

void ClientSession::drain()
{
    if (m_socket->state() == QLocalSocket::ConnectedState && m_socket->bytesToWrite() > 0)
        m_socket->waitForBytesWritten(500);
}
