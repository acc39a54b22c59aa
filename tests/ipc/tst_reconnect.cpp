#include "ipc/reconnectschedule.h"

#include "clientfixture.h"

#include <QElapsedTimer>
#include <QtTest>

// The reconnect policy: a quick round, then growing waits for ever; only a
// completed handshake refills the quick round; a user action tries at once.
class TestReconnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("PROGRAMDATA"); }
    void schedule_data();
    void schedule();
    void lateDaemonIsReachedBySlowSchedule();
    void serverThatClosesAtOnceIsNotHammered();
    void onlyReadyRefillsTheQuickRound_data();
    void onlyReadyRefillsTheQuickRound();
    void retryNowAttemptsAtOnceAndRestartsTheRound();
    void retryNowDoesNothingWhileReachable();
};

namespace {

// Short enough for a test, in the same shape as the real schedule.
ReconnectTimings shortTimings(int steadyMs = 200)
{
    ReconnectTimings t;
    t.quickDelayMs = 20;
    t.quickRetries = 10;
    t.backoffMs = {60, 120};
    t.steadyDelayMs = steadyMs;
    return t;
}

// Connection attempts: the client's socket entering the connecting state.
struct AttemptCounter
{
    explicit AttemptCounter(PipeClient &client)
        : states(client.findChild<QLocalSocket *>(), &QLocalSocket::stateChanged)
    {
    }
    int count() const
    {
        int n = 0;
        for (const QList<QVariant> &args : states)
            n += args.first().value<QLocalSocket::LocalSocketState>() ==
                 QLocalSocket::ConnectingState;
        return n;
    }
    QSignalSpy states;
};

// The most connections the schedule allows within `periodMs` of the first
// attempt. Timers may fire up to 5 % early.
int mostAttemptsWithin(qint64 periodMs, const ReconnectTimings &timings)
{
    int attempts = 1;
    double elapsed = 0;
    for (int retry = 1;; retry = ReconnectSchedule::nextRetry(retry, timings)) {
        elapsed += 0.95 * ReconnectSchedule::delayBeforeRetry(retry, timings);
        if (elapsed > periodMs)
            return attempts;
        ++attempts;
    }
}

// A server that takes every connection and, unless told to greet it first,
// closes it at once, as a daemon rejecting the handshake does.
class ClosingServer : public QObject
{
public:
    explicit ClosingServer(const QString &path, bool greet = false)
    {
        connect(&m_server, &QLocalServer::newConnection, this, [this, greet] {
            while (QLocalSocket *peer = m_server.nextPendingConnection()) {
                m_times << m_clock.elapsed();
                if (greet) {
                    peer->write(R"({"type":"ready","version":"9.9"})"
                                "\n");
                    peer->flush();
                }
                peer->disconnectFromServer();
                connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            }
        });
        m_clock.start();
        m_listening = m_server.listen(path);
    }
    bool listening() const { return m_listening; }
    int connections() const { return int(m_times.size()); }
    QList<qint64> times() const { return m_times; }

private:
    QLocalServer m_server;
    QElapsedTimer m_clock;
    QList<qint64> m_times;
    bool m_listening = false;
};

} // namespace

void TestReconnect::schedule_data()
{
    QTest::addColumn<int>("retry");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("pastQuickRound");
    QTest::addColumn<int>("next");

    QTest::newRow("below the first") << 0 << 500 << false << 1;
    QTest::newRow("first retry") << 1 << 500 << false << 2;
    QTest::newRow("tenth, last of the quick round") << 10 << 500 << false << 11;
    QTest::newRow("eleventh") << 11 << 1000 << true << 12;
    QTest::newRow("twelfth") << 12 << 2000 << true << 13;
    QTest::newRow("thirteenth") << 13 << 4000 << true << 14;
    QTest::newRow("fourteenth") << 14 << 8000 << true << 15;
    QTest::newRow("fifteenth") << 15 << 16000 << true << 16;
    QTest::newRow("sixteenth, steady from here") << 16 << 30000 << true << 16;
    QTest::newRow("far on") << 1000000 << 30000 << true << 16;
}

void TestReconnect::schedule()
{
    QFETCH(int, retry);
    QFETCH(int, delayMs);
    QFETCH(bool, pastQuickRound);
    QFETCH(int, next);

    QCOMPARE(ReconnectSchedule::delayBeforeRetry(retry), delayMs);
    QCOMPARE(ReconnectSchedule::isPastQuickRound(retry), pastQuickRound);
    QCOMPARE(ReconnectSchedule::nextRetry(retry), next);
}

void TestReconnect::lateDaemonIsReachedBySlowSchedule()
{
    FakeDaemon daemon; // nobody listens yet
    PipeClient client;
    client.setReconnectTimings(shortTimings());
    AttemptCounter attempts(client);
    int attemptsWhenUnreachable = -1;
    connect(&client, &PipeClient::daemonUnreachableChanged, this, [&] {
        if (client.daemonUnreachable() && attemptsWhenUnreachable < 0)
            attemptsWhenUnreachable = attempts.count();
    });

    client.connectToPipe();
    QTRY_VERIFY(client.daemonUnreachable());
    QCOMPARE(attemptsWhenUnreachable, 11); // the whole quick round first
    QVERIFY(client.nextAttemptAt() > 0);

    // It keeps trying past the quick round and finds the daemon when it comes.
    QTRY_VERIFY(attempts.count() >= 13);
    QVERIFY(daemon.listen());
    QVERIFY(daemon.waitForConnection(1, 10000));
    QVERIFY(daemon.waitForLines(1));     // the handshake
    QVERIFY(client.daemonUnreachable()); // connected is not yet ready
    QVERIFY2(daemon.send(R"({"type":"ready","version":"1.0"})"), "no client connected");
    QTRY_VERIFY(!client.daemonUnreachable());
    QCOMPARE(client.nextAttemptAt(), 0.0);
}

void TestReconnect::serverThatClosesAtOnceIsNotHammered()
{
    FakeDaemon pipe; // only for its private socket path
    ClosingServer server(pipe.path());
    QVERIFY(server.listening());
    const ReconnectTimings timings = shortTimings();
    PipeClient client;
    client.setReconnectTimings(timings);

    QElapsedTimer clock;
    client.connectToPipe();
    clock.start();
    // Past the quick round and into the steady waits...
    QTRY_VERIFY_WITH_TIMEOUT(server.connections() >= 15, 20000);
    QVERIFY(client.daemonUnreachable());
    // ...and never more often than the schedule allows.
    QVERIFY2(server.connections() <= mostAttemptsWithin(clock.elapsed(), timings),
             qPrintable(QStringLiteral("%1 connections in %2 ms")
                            .arg(server.connections())
                            .arg(clock.elapsed())));
    const QList<qint64> times = server.times();
    QVERIFY(times.at(14) - times.at(13) >= 0.95 * timings.steadyDelayMs);
}

void TestReconnect::onlyReadyRefillsTheQuickRound_data()
{
    QTest::addColumn<bool>("greet");
    QTest::addColumn<bool>("slowsDown");
    QTest::newRow("accepts and closes") << false << true;
    QTest::newRow("says ready, then closes") << true << false;
}

void TestReconnect::onlyReadyRefillsTheQuickRound()
{
    QFETCH(bool, greet);
    QFETCH(bool, slowsDown);

    FakeDaemon pipe;
    ClosingServer server(pipe.path(), greet);
    QVERIFY(server.listening());
    // A steady wait no test run reaches: a slowed client stops at 13 connections.
    PipeClient client;
    client.setReconnectTimings(shortTimings(60000));

    client.connectToPipe();
    QTRY_VERIFY_WITH_TIMEOUT(server.connections() >= 13, 10000);
    if (slowsDown) {
        QVERIFY(client.daemonUnreachable());
        QTest::qWait(500);
        QCOMPARE(server.connections(), 13);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(server.connections() >= 20, 10000);
        QVERIFY(!client.daemonUnreachable());
    }
}

void TestReconnect::retryNowAttemptsAtOnceAndRestartsTheRound()
{
    FakeDaemon daemon;
    PipeClient client;
    client.setReconnectTimings(shortTimings(60000));
    AttemptCounter attempts(client);
    client.connectToPipe();
    QTRY_VERIFY(client.daemonUnreachable());
    QTRY_COMPARE(attempts.count(), 13); // the quick round and both backoff steps
    const double waitingUntil = client.nextAttemptAt();
    QVERIFY(waitingUntil > 0);

    // Still nobody there: an attempt at once, then a whole quick round again.
    client.retryNow();
    QTRY_COMPARE(attempts.count(), 13 + 11 + 2);
    QVERIFY(client.daemonUnreachable()); // only "ready" says otherwise

    // The daemon is back: the next click reaches it long before the steady wait.
    QVERIFY(daemon.listen());
    QElapsedTimer clock;
    clock.start();
    client.retryNow();
    QVERIFY(daemon.waitForConnection(1, 10000));
    QVERIFY(clock.elapsed() < 10000);
    QVERIFY2(daemon.send(R"({"type":"ready","version":"1.0"})"), "no client connected");
    QTRY_VERIFY(!client.daemonUnreachable());
}

void TestReconnect::retryNowDoesNothingWhileReachable()
{
    FakeDaemon daemon;
    QVERIFY(daemon.listen());
    PipeClient client;
    // Before the first scheduled attempt nothing is known to be wrong: the
    // first connection still waits for its time at start-up.
    client.retryNow();
    QTest::qWait(300);
    QCOMPARE(daemon.connections(), 0);

    // Connected and ready: no second connection.
    QVERIFY(daemon.connectClient(client));
    QVERIFY2(daemon.send(R"({"type":"ready","version":"1.0"})"), "no client connected");
    QTRY_COMPARE(client.status(), QStringLiteral("ready — daemon v1.0"));
    client.retryNow();
    QTest::qWait(300);
    QCOMPARE(daemon.connections(), 1);
}

QTEST_GUILESS_MAIN(TestReconnect)
#include "tst_reconnect.moc"
