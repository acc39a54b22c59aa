#pragma once

#include "ipc/linereader.h"
#include "ipc/protocol.h"

#include <QJsonObject>
#include <QLocalSocket>
#include <QtTest>

#include <functional>

// A raw client on the pipe, as the interface is to the daemon: writes lines,
// collects the events it receives. The one handshake-and-ping client of the
// tests that speak to a real daemon process.
class Peer
{
public:
    bool open(const QString &socketName)
    {
        QObject::connect(&m_socket, &QLocalSocket::readyRead,
                         [this] { m_events += m_reader.feed(m_socket.readAll()); });
        m_socket.connectToServer(socketName);
        return m_socket.waitForConnected(5000);
    }
    void sendRaw(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    void send(const QJsonObject &message) { sendRaw(Protocol::encode(message)); }
    void command(const QString &cmd) { sendRaw(Protocol::command(cmd)); }
    void command(const QString &cmd, const QJsonObject &payload)
    {
        sendRaw(Protocol::command(cmd, payload));
    }
    // Opens and sends the handshake; true once "ready" arrived.
    bool handshake(const QString &socketName, const QString &token)
    {
        if (!open(socketName))
            return false;
        sendRaw(Protocol::handshake(token));
        return !waitFor(QStringLiteral("ready")).isEmpty();
    }

    // The first event of that type (after `from`) that satisfies the test, or
    // an empty object after the timeout.
    QJsonObject waitFor(const QString &type,
                        const std::function<bool(const QJsonObject &)> &test = nullptr,
                        int timeoutMs = 10000)
    {
        QJsonObject found;
        (void)QTest::qWaitFor(
            [&] {
                for (const QJsonObject &e : std::as_const(m_events)) {
                    if (e.value(QStringLiteral("type")) == type && (!test || test(e))) {
                        found = e;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return found;
    }
    QList<QJsonObject> eventsOfType(const QString &type) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &e : m_events) {
            if (e.value(QStringLiteral("type")) == type)
                out << e;
        }
        return out;
    }
    bool waitForClosed(int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return m_socket.state() == QLocalSocket::UnconnectedState; },
                               timeoutMs);
    }
    void clear() { m_events.clear(); }
    QList<QJsonObject> events() const { return m_events; }
    QLocalSocket &socket() { return m_socket; }

private:
    QLocalSocket m_socket;
    LineReader m_reader;
    QList<QJsonObject> m_events;
};
