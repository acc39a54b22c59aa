#include "app/loopbackhandoff.h"
#include "app/signinpage.h"
#include "app/tcpclientowner.h"

#include "loopbackclient.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <csignal>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

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

ForeignExchange foreignLoopbackExchange(quint16 port, const QByteArray &request)
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

const QUrl kTarget(QStringLiteral("https://sign.example/login?code=KX-1&x='<a>'"));
const QUrl kNewer(QStringLiteral("https://sign.example/login?code=KX-2"));

QByteArray header(const QByteArray &response, const QByteArray &name)
{
    const QByteArray head = response.left(response.indexOf("\r\n\r\n"));
    for (const QByteArray &line : head.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.toLower().startsWith(name.toLower() + ':'))
            return trimmed.mid(name.size() + 1).trimmed();
    }
    return {};
}

QByteArray get(const QByteArray &path)
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: test\r\n\r\n";
}

} // namespace

class TestLoopbackHandoff : public QObject
{
    Q_OBJECT

private slots:
    void addressIsLoopbackWithAFreshToken();
    void servesThePageOnce();
    void refusedRequestsLeaveTheTokenUsable_data();
    void refusedRequestsLeaveTheTokenUsable();
    void secondRequestGetsNothing();
    void newerTargetIsServed();
    void connectionsAreBounded();
    void closeStopsListening();
    void ownerOfAClient_data();
    void ownerOfAClient();
};

void TestLoopbackHandoff::addressIsLoopbackWithAFreshToken()
{
    LoopbackHandoff first;
    LoopbackHandoff second;
    QVERIFY(first.url().isEmpty());
    QVERIFY(first.open(kTarget, QStringLiteral("Sign in")));
    QVERIFY(second.open(kTarget, QStringLiteral("Sign in")));
    const QUrl url = first.url();
    QCOMPARE(url.scheme(), QStringLiteral("http"));
    QCOMPARE(url.host(), QStringLiteral("127.0.0.1"));
    QVERIFY(url.port() > 0);
    // 128 bits, URL-safe: 22 characters of base64url.
    const QString token = url.path().mid(1);
    QCOMPARE(token.size(), 22);
    QVERIFY(QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{22}$")).match(token).hasMatch());
    QVERIFY(token != second.url().path().mid(1));
    // Nothing of the sign-in URL is in what the browser is handed.
    QVERIFY(!url.toString().contains(QLatin1String("KX-1")));
}

void TestLoopbackHandoff::servesThePageOnce()
{
    LoopbackHandoff handoff;
    QSignalSpy served(&handoff, &LoopbackHandoff::served);
    QVERIFY(handoff.open(kTarget, QStringLiteral("Sign in")));
    const QUrl url = handoff.url();

    const QByteArray response = loopbackGet(url);
    QVERIFY2(response.startsWith("HTTP/1.1 200 "), response.constData());
    const QByteArray page = SignInPage::html(kTarget, QStringLiteral("Sign in"));
    QCOMPARE(httpBody(response), page);
    QCOMPARE(header(response, "Content-Type"), QByteArray("text/html; charset=utf-8"));
    QCOMPARE(header(response, "Content-Length"), QByteArray::number(page.size()));
    QCOMPARE(header(response, "Cache-Control"), QByteArray("no-store"));
    QCOMPARE(header(response, "Referrer-Policy"), QByteArray("no-referrer"));
    QCOMPARE(header(response, "Connection"), QByteArray("close"));
    QVERIFY(!page.contains("<script"));

    QCOMPARE(served.size(), 1);
    QVERIFY(handoff.pageServed());
    QVERIFY(!handoff.isListening());
    // The port is closed: the same address again finds nobody.
    QCOMPARE(loopbackGet(url), QByteArray());
}

// Each of these gets nothing useful, and the browser's own request after it
// still gets the page.
void TestLoopbackHandoff::refusedRequestsLeaveTheTokenUsable_data()
{
    QTest::addColumn<QByteArray>("request"); // TOKEN stands for the token, HALF for its first half
    QTest::addColumn<QString>("client");     // who asks: us, other, unknown, nobody (uid 65534)
    QTest::addColumn<QByteArray>("answer");  // the status line's start; empty: closed unanswered

    const QByteArray notFound = "HTTP/1.1 404 ";
    QTest::newRow("wrong token") << get("/AAAAAAAAAAAAAAAAAAAAAA") << "us" << notFound;
    QTest::newRow("token cut short") << get("/HALF") << "us" << notFound;
    QTest::newRow("token and more") << get("/TOKENx") << "us" << notFound;
    QTest::newRow("token with a query") << get("/TOKEN?a=1") << "us" << notFound;
    QTest::newRow("token in a folder") << get("/x/TOKEN") << "us" << notFound;
    QTest::newRow("root") << get("/") << "us" << notFound;
    QTest::newRow("HEAD") << QByteArray("HEAD /TOKEN HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n") << "us"
                          << notFound;
    QTest::newRow("POST") << QByteArray("POST /TOKEN HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << "us"
                          << notFound;
    QTest::newRow("lower-case get")
        << QByteArray("get /TOKEN HTTP/1.1\r\n\r\n") << "us" << notFound;
    QTest::newRow("not HTTP") << QByteArray("GET /TOKEN\r\n\r\n") << "us" << notFound;
    QTest::newRow("oversized") << QByteArray("GET /TOKEN HTTP/1.1\r\nX-Fill: " +
                                             QByteArray(9000, 'a') + "\r\n\r\n")
                               << "us" << QByteArray();
    QTest::newRow("slow") << QByteArray("GET /TOKEN HTTP/1.1\r\nHost: 127.0.0.1\r\n") << "us"
                          << QByteArray();
    QTest::newRow("owner unknown") << get("/TOKEN") << "unknown" << notFound;
    QTest::newRow("another user's") << get("/TOKEN") << "other" << notFound;
    QTest::newRow("uid 65534, for real") << get("/TOKEN") << "nobody" << notFound;
}

void TestLoopbackHandoff::refusedRequestsLeaveTheTokenUsable()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, client);
    QFETCH(QByteArray, answer);

    if (client == QLatin1String("nobody") && ::geteuid() != 0)
        QSKIP("needs root to connect as another user (uid 65534); runs in CI as root");

    LoopbackHandoff handoff;
    // The slow row waits for a short bound instead of the real one.
    handoff.setRequestTimeout(200);
    QVERIFY(handoff.open(kTarget, QStringLiteral("Sign in")));
    const QByteArray token = handoff.url().path().mid(1).toLatin1();
    request.replace("HALF", token.left(token.size() / 2));
    request.replace("TOKEN", token);

    QByteArray got;
    if (client == QLatin1String("nobody")) {
        const ForeignExchange exchange =
            foreignLoopbackExchange(quint16(handoff.url().port()), request);
        if (exchange.result == ForeignExchange::Result::CannotChangeUser)
            QSKIP("this root may not switch to uid 65534 (no CAP_SETUID)");
        QCOMPARE(exchange.result, ForeignExchange::Result::Done);
        got = exchange.answer;
    } else {
        if (client != QLatin1String("us")) {
            const TcpClientOwner owner =
                client == QLatin1String("other") ? TcpClientOwner::Other : TcpClientOwner::Unknown;
            handoff.setOwnerLookup([owner](const QTcpSocket &) { return owner; });
        }
        got = loopbackExchange(quint16(handoff.url().port()), request);
        handoff.setOwnerLookup(tcpClientOwner);
    }
    if (answer.isEmpty())
        QCOMPARE(got, QByteArray());
    else
        QVERIFY2(got.startsWith(answer), got.constData());
    QVERIFY(!got.contains("KX-1"));
    QVERIFY(!got.contains("sign.example"));

    QVERIFY(handoff.isListening());
    QVERIFY(!handoff.pageServed());
    const QByteArray page = loopbackGet(handoff.url());
    QVERIFY2(page.startsWith("HTTP/1.1 200 "), page.constData());
    QCOMPARE(httpBody(page), SignInPage::html(kTarget, QStringLiteral("Sign in")));
}

// A connection made before the page went out asks too late.
void TestLoopbackHandoff::secondRequestGetsNothing()
{
    LoopbackHandoff handoff;
    QVERIFY(handoff.open(kTarget, QString()));
    QTcpSocket early;
    early.connectToHost(QHostAddress::LocalHost, quint16(handoff.url().port()));
    QVERIFY(early.waitForConnected(5000));

    const QByteArray path = handoff.url().path().toLatin1();
    QTRY_COMPARE(handoff.connectionCount(), 1);
    QVERIFY(loopbackGet(handoff.url()).startsWith("HTTP/1.1 200 "));
    early.write(get(path));
    QTRY_VERIFY(early.state() == QAbstractSocket::UnconnectedState);
    const QByteArray got = early.readAll();
    QVERIFY2(got.startsWith("HTTP/1.1 404 "), got.constData());
    QVERIFY(!got.contains("KX-1"));
}

void TestLoopbackHandoff::newerTargetIsServed()
{
    LoopbackHandoff handoff;
    QVERIFY(handoff.open(kTarget, QStringLiteral("Sign in")));
    handoff.setTarget(kNewer, QStringLiteral("Sign in"));
    const QByteArray response = loopbackGet(handoff.url());
    QCOMPARE(httpBody(response), SignInPage::html(kNewer, QStringLiteral("Sign in")));
}

// Idle connections hold only so many places; one that gives its place up
// lets the browser in.
void TestLoopbackHandoff::connectionsAreBounded()
{
    LoopbackHandoff handoff;
    QVERIFY(handoff.open(kTarget, QString()));
    const quint16 port = quint16(handoff.url().port());
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < LoopbackHandoff::kMaxConnections; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(idle.back()->waitForConnected(5000));
    }
    // The hand-off has taken them all in before the next one comes.
    QTRY_COMPARE(handoff.connectionCount(), LoopbackHandoff::kMaxConnections);
    QTcpSocket extra;
    extra.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(extra.waitForConnected(5000));
    extra.write(get(handoff.url().path().toLatin1()));
    QTRY_COMPARE(extra.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(extra.readAll(), QByteArray());
    QVERIFY(!handoff.pageServed());

    QCOMPARE(handoff.connectionCount(), LoopbackHandoff::kMaxConnections);
    idle.front()->disconnectFromHost();
    QTRY_COMPARE(handoff.connectionCount(), LoopbackHandoff::kMaxConnections - 1);
    QVERIFY(loopbackGet(handoff.url()).startsWith("HTTP/1.1 200 "));
}

void TestLoopbackHandoff::closeStopsListening()
{
    LoopbackHandoff handoff;
    QVERIFY(handoff.open(kTarget, QString()));
    QTcpSocket waiting;
    waiting.connectToHost(QHostAddress::LocalHost, quint16(handoff.url().port()));
    QVERIFY(waiting.waitForConnected(5000));
    const QUrl url = handoff.url();
    QTest::qWait(50);

    handoff.close();
    QVERIFY(!handoff.isListening());
    QTRY_COMPARE(waiting.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(waiting.readAll(), QByteArray());
    QCOMPARE(loopbackGet(url), QByteArray());
}

// The kernel's answer about a client of our own: ours while it is open, and
// nobody's once it has closed its end (its remains in the table carry no
// owner worth believing).
void TestLoopbackHandoff::ownerOfAClient_data()
{
    QTest::addColumn<bool>("closeFirst");
    QTest::addColumn<int>("owner");
    QTest::newRow("open") << false << int(TcpClientOwner::Us);
    QTest::newRow("closed by the client") << true << int(TcpClientOwner::Unknown);
}

void TestLoopbackHandoff::ownerOfAClient()
{
#ifndef Q_OS_LINUX
    QSKIP("the owner of a loopback client is looked up on Linux only");
#endif
    QFETCH(bool, closeFirst);
    QFETCH(int, owner);

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(5000));
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *accepted = server.nextPendingConnection();
    QVERIFY(accepted);
    if (closeFirst) {
        client.disconnectFromHost();
        QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
        QTest::qWait(50);
    }
    QCOMPARE(int(tcpClientOwner(*accepted)), owner);
}

QTEST_GUILESS_MAIN(TestLoopbackHandoff)
#include "tst_loopbackhandoff.moc"
