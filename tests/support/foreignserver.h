#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

// A local socket served by another user, for the tests that a peer of the
// wrong identity is told nothing: a forked child binds the path (as root, so
// any folder will do), hands the socket file to "nobody", becomes "nobody"
// and only then listens, so the kernel records nobody as the server. For each
// connection it reports how many bytes the client wrote before it went away
// or stayed silent for five seconds. Needs root (a second user exists for
// a user namespace only with subordinate ids, which a developer's machine
// need not have): CI runs these tests as root. A root that may not change
// user (a container without CAP_SETUID) gets CannotChangeUser.
class ForeignServer
{
public:
    static constexpr uid_t kNobody = 65534;

    enum class Start
    {
        Serving,
        CannotChangeUser,
        Failed,
    };

    ForeignServer() = default;
    ForeignServer(const ForeignServer &) = delete;
    ForeignServer &operator=(const ForeignServer &) = delete;
    ~ForeignServer() { stop(); }

    // greeting: bytes written to every client as soon as it is accepted.
    Start start(const QString &path, const QByteArray &greeting = {})
    {
        int report[2];
        int control[2];
        if (::pipe(report) != 0)
            return Start::Failed;
        if (::pipe(control) != 0) {
            ::close(report[0]);
            ::close(report[1]);
            return Start::Failed;
        }
        const QByteArray name = QFile::encodeName(path);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(report[0]);
            ::close(control[1]);
            serve(name.constData(), greeting, report[1], control[0]); // never returns
        }
        ::close(report[1]);
        ::close(control[0]);
        m_report = report[0];
        m_control = control[1];
        if (m_pid < 0)
            return Start::Failed;
        char ready = 0;
        pollfd in = {m_report, POLLIN, 0};
        if (::poll(&in, 1, 10000) != 1 || ::read(m_report, &ready, 1) != 1)
            return Start::Failed;
        return ready == 'L'   ? Start::Serving
               : ready == 'E' ? Start::CannotChangeUser
                              : Start::Failed;
    }

    // The serving process, which the kernel names as the server.
    pid_t pid() const { return m_pid; }

    // The bytes the next client wrote, once it has gone; false when no
    // client came and went in time. The caller's event loop runs meanwhile.
    bool nextConnection(qint64 *received, int timeoutMs)
    {
        pollfd in = {m_report, POLLIN, 0};
        return QTest::qWaitFor([&] { return ::poll(&in, 1, 0) == 1; }, timeoutMs) &&
               ::read(m_report, received, sizeof *received) == sizeof *received;
    }

    // Ends the server; the bytes all its clients wrote that nextConnection
    // did not report, -1 on failure.
    qint64 stop()
    {
        if (m_pid <= 0)
            return -1;
        ::close(m_control);
        qint64 total = 0;
        qint64 received = 0;
        ssize_t n;
        while ((n = ::read(m_report, &received, sizeof received)) == sizeof received)
            total += received;
        ::close(m_report);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return n == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? total : -1;
    }

private:
    [[noreturn]] static void serve(const char *path, const QByteArray &greeting, int report,
                                   int control)
    {
        // A client that goes away in the middle of a long greeting ends the
        // write, not this process.
        ::signal(SIGPIPE, SIG_IGN);
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        if (listener < 0 || std::strlen(path) >= sizeof address.sun_path)
            ::_exit(1);
        std::strcpy(address.sun_path, path);
        if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::chown(path, kNobody, kNobody) != 0)
            ::_exit(1);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            (void)!::write(report, "E", 1);
            ::_exit(1);
        }
        // The kernel records the listener's credentials here: after the drop.
        if (::listen(listener, 8) != 0 || ::write(report, "L", 1) != 1)
            ::_exit(1);
        for (;;) {
            pollfd waiting[2] = {{listener, POLLIN, 0}, {control, POLLIN, 0}};
            if (::poll(waiting, 2, -1) < 0 || waiting[1].revents)
                ::_exit(0);
            const int client = ::accept(listener, nullptr, nullptr);
            if (client < 0)
                continue;
            if (!greeting.isEmpty())
                (void)!::write(client, greeting.constData(), size_t(greeting.size()));
            qint64 received = 0;
            char buffer[4096];
            for (;;) {
                pollfd talk[2] = {{client, POLLIN, 0}, {control, POLLIN, 0}};
                if (::poll(talk, 2, 5000) <= 0 || !(talk[0].revents & (POLLIN | POLLHUP)))
                    break; // silent for long, or told to end: report what came
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                received += n;
            }
            ::close(client);
            if (::write(report, &received, sizeof received) != sizeof received)
                ::_exit(1);
        }
    }

    pid_t m_pid = -1;
    int m_report = -1;
    int m_control = -1;
};
