#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>
#include <QtTest>
#include <QUrl>

// Marks an answer whose server had not closed the connection in time.
inline const QByteArray kStillOpen = "<still open>";

// A browser's side of a loopback exchange, driven from the test's own event
// loop (the server under test runs on it): sends the bytes and returns all
// that came back once the server closed, or what came until the time ran out
// followed by kStillOpen.
inline QByteArray loopbackExchange(quint16 port, const QByteArray &request, int timeoutMs = 10000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor(
            [&] {
                return socket.state() == QAbstractSocket::ConnectedState ||
                       socket.state() == QAbstractSocket::UnconnectedState;
            },
            timeoutMs) ||
        socket.state() != QAbstractSocket::ConnectedState)
        return {};
    socket.write(request);
    QByteArray answer;
    const bool closed = QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
    answer += socket.readAll();
    return closed ? answer : answer + kStillOpen;
}

inline QByteArray loopbackGet(const QUrl &url)
{
    return loopbackExchange(quint16(url.port()), "GET " + url.path(QUrl::FullyEncoded).toLatin1() +
                                                     " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

// The body of an HTTP answer; empty without one.
inline QByteArray httpBody(const QByteArray &response)
{
    const qsizetype end = response.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : response.mid(end + 4);
}
