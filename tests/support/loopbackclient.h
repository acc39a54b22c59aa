#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>
#include <QtTest>
#include <QUrl>

#include <csignal>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The same exchange from a forked child that has become another user (uid and
// gid 65534) first, so the kernel names that user as the client socket's
// owner. Needs root; the parent's event loop serves meanwhile.
struct ForeignExchange
{
    enum class Result
    {
        Done,
        CannotChangeUser,
        Failed,
    };
    Result result = Result::Failed;
    QByteArray answer;
};

inline ForeignExchange foreignLoopbackExchange(quint16 port, const QByteArray &request)
{
    ForeignExchange out;
    int report[2];
    if (::pipe(report) != 0)
        return out;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        const gid_t nobody = 65534;
        if (::setgroups(1, &nobody) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0) {
            (void)!::write(report[1], "E", 1);
            ::_exit(1);
        }
        (void)!::write(report[1], "U", 1);
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof(to)) != 0)
            ::_exit(2);
        if (::write(fd, request.constData(), size_t(request.size())) != request.size())
            ::_exit(3);
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(fd, buffer, sizeof(buffer))) > 0)
            (void)!::write(report[1], buffer, size_t(got));
        ::_exit(0);
    }
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        return out;
    }
    int status = 0;
    if (!QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 15000)) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    QByteArray all;
    char buffer[4096];
    pollfd in{report[0], POLLIN, 0};
    while (::poll(&in, 1, 0) == 1) {
        const ssize_t got = ::read(report[0], buffer, sizeof(buffer));
        if (got <= 0)
            break;
        all.append(buffer, got);
    }
    ::close(report[0]);
    if (all.startsWith('E')) {
        out.result = ForeignExchange::Result::CannotChangeUser;
    } else if (all.startsWith('U') && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        out.result = ForeignExchange::Result::Done;
        out.answer = all.mid(1);
    }
    return out;
}
