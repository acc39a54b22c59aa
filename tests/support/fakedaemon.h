#pragma once

#include "ipc/pipeclient.h"

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

// The daemon's end of the pipe for tests: a real QLocalServer on a private
// socket path that KESTRIX_PIPE points at. Records every line the client
// writes and sends event lines back.
class FakeDaemon : public QObject
{
public:
    FakeDaemon()
    {
        m_path = m_dir.path() + QStringLiteral("/kestrix.sock");
        qputenv("KESTRIX_PIPE", m_path.toUtf8());
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *peer = m_server.nextPendingConnection()) {
                ++m_connections;
                m_peer = peer;
                connect(peer, &QLocalSocket::readyRead, this, [this, peer] { read(peer); });
                connect(peer, &QLocalSocket::disconnected, this, [this] { ++m_disconnects; });
            }
        });
    }

    bool listen() { return m_server.listen(m_path); }
    void stopListening() { m_server.close(); }
    QString path() const { return m_path; }

    // Sends one event line (a line feed is added) or raw bytes; false when
    // no client is connected to take them (check with QVERIFY2).
    [[nodiscard]] bool send(const QByteArray &line) { return sendRaw(line + '\n'); }
    [[nodiscard]] bool sendRaw(const QByteArray &bytes)
    {
        if (!m_peer || m_peer->state() != QLocalSocket::ConnectedState)
            return false;
        const bool written = m_peer->write(bytes) == bytes.size();
        m_peer->flush();
        return written;
    }

    // Connects the client and waits for its handshake line, then forgets it:
    // lines() holds only what the client writes after.
    bool connectClient(PipeClient &client, int timeoutMs = 5000)
    {
        client.connectToPipe();
        if (!waitForLines(1, timeoutMs))
            return false;
        clearLines();
        return true;
    }

    // Sends the event lines, then waits until the client has handled all of
    // them: events are handled in order, so a "pong" sent last marks the end.
    // False when no client took them or it did not get to the end in time.
    bool deliver(PipeClient &client, const QList<QByteArray> &lines, int timeoutMs = 5000)
    {
        const QString tag = QStringLiteral("marker-%1").arg(++m_marker);
        QSignalSpy done(&client, &PipeClient::versionReceived);
        for (const QByteArray &line : lines) {
            if (!send(line))
                return false;
        }
        if (!send(R"({"type":"pong","version":")" + tag.toUtf8() + R"("})"))
            return false;
        return QTest::qWaitFor(
            [&] {
                for (const QList<QVariant> &args : done)
                    if (args.value(0).toString() == tag)
                        return true;
                return false;
            },
            timeoutMs);
    }
    bool deliver(PipeClient &client, const QByteArray &line)
    {
        return deliver(client, QList<QByteArray>{line});
    }

    // Closes the current connection from the daemon's side.
    void drop()
    {
        if (m_peer)
            m_peer->disconnectFromServer();
    }

    bool waitForConnection(int count = 1, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return m_connections >= count; }, timeoutMs);
    }
    bool waitForLines(int count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return m_lines.size() >= count; }, timeoutMs);
    }

    QList<QByteArray> lines() const { return m_lines; }
    QByteArray rawBytes() const { return m_raw; }
    int readCalls() const { return m_readCalls; }
    int connections() const { return m_connections; }
    int disconnects() const { return m_disconnects; }
    void clearLines()
    {
        m_lines.clear();
        m_raw.clear();
    }

private:
    void read(QLocalSocket *peer)
    {
        const QByteArray bytes = peer->readAll();
        ++m_readCalls;
        m_raw += bytes;
        m_pending += bytes;
        qsizetype nl;
        while ((nl = m_pending.indexOf('\n')) >= 0) {
            m_lines.append(m_pending.left(nl));
            m_pending.remove(0, nl + 1);
        }
    }

    QTemporaryDir m_dir;
    QString m_path;
    QLocalServer m_server;
    QPointer<QLocalSocket> m_peer;
    QList<QByteArray> m_lines;
    QByteArray m_raw;
    QByteArray m_pending;
    int m_readCalls = 0;
    int m_connections = 0;
    int m_disconnects = 0;
    int m_marker = 0;
};
