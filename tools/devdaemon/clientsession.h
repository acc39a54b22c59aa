#pragma once

#include "ipc/linereader.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

class QLocalSocket;

// One client on the pipe: cuts what it sends into lines, hands each raw line
// (for the log) and each JSON object on, and writes events back. A client
// that has not been accepted within the handshake timeout, or that leaves more
// than kMaxUnsentBytes of our events unread, is dropped.
class ClientSession : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kMaxUnsentBytes = qint64{1024} * 1024;

    // Takes ownership of the socket.
    ClientSession(QLocalSocket *socket, int handshakeTimeoutMs, QObject *parent = nullptr);

    bool isReady() const { return m_ready; }
    void setReady();

    void send(const QJsonObject &event);
    void sendLine(const QByteArray &line);
    // Sends the event, then closes the pipe once it has left.
    void reject(const QJsonObject &event);
    // Blocks briefly until everything written has left (before exiting).
    void drain();

signals:
    // A complete line as read, without its line feed; object is empty when
    // the line is not a JSON object.
    void lineReceived(const QByteArray &raw, const QJsonObject &object, bool isObject);
    // The client is gone or was dropped; emitted once, never from inside a send.
    void closed();

private:
    void onReadyRead();
    void drop();

    QLocalSocket *m_socket;
    QByteArray m_buffer;
    LineReader m_parser;
    QTimer m_handshakeTimer;
    bool m_discarding = false; // inside an over-long line
    bool m_ready = false;      // handshake accepted
    bool m_closing = false;
    bool m_closedSent = false;
};
