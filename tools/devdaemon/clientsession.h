#pragma once

#include "ipc/linereader.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>

class QLocalSocket;

// One client on the pipe: cuts what it sends into lines, hands each raw line
// (for the log) and each JSON object on, and writes events back.
class ClientSession : public QObject
{
    Q_OBJECT

public:
    // Takes ownership of the socket.
    explicit ClientSession(QLocalSocket *socket, QObject *parent = nullptr);

    bool isReady() const { return m_ready; }
    void setReady() { m_ready = true; }

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
    void closed();

private:
    void onReadyRead();

    QLocalSocket *m_socket;
    QByteArray m_buffer;
    LineReader m_parser;
    bool m_discarding = false; // inside an over-long line
    bool m_ready = false;      // handshake accepted
    bool m_closing = false;
};
