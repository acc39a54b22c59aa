#include "clientfixture.h"

#include <QElapsedTimer>
#include <QtTest>

// Opening, losing and reopening the pipe against a real local server.
class TestPipeClientLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("PROGRAMDATA"); }
    void constructionIsIdle();
    void reconnectsAfterDrop();
    void elevenAttemptsWithoutDaemon();
    void noReconnectAfterShutdown();
    void connectToPipeWhileConnected();
    void partialLineDoesNotSurviveReconnect();
    void oversizedLineKeepsConnection();
};

namespace {

// Counts connection attempts by watching the client's socket start connecting.
int countAttempts(QSignalSpy &states)
{
    int n = 0;
    for (const QList<QVariant> &args : states)
        if (args.first().value<QLocalSocket::LocalSocketState>() == QLocalSocket::ConnectingState)
            ++n;
    return n;
}

} // namespace

void TestPipeClientLifecycle::constructionIsIdle()
{
    FakeDaemon daemon;
    QVERIFY(daemon.listen());
    PipeClient client;
    QCOMPARE(client.status(), QStringLiteral("disconnected"));
    QCOMPARE(client.vpnState(), QStringLiteral("disconnected"));
    QCOMPARE(client.killSwitchMode(), QStringLiteral("never"));
    QTest::qWait(700);
    QCOMPARE(daemon.connections(), 0); // the constructor never opens the pipe
}

void TestPipeClientLifecycle::reconnectsAfterDrop()
{
    ConnectedClient c;
    QVERIFY(c.start());
    QVERIFY(c.deliver(R"({"type":"login_complete"})"));

    QElapsedTimer clock;
    clock.start();
    c.daemon.drop();
    QTRY_COMPARE(c.client->status(), QStringLiteral("disconnected"));
    QVERIFY(!c.client->authenticated());
    QVERIFY(c.daemon.waitForConnection(2));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 450, qPrintable(QString::number(elapsed)));
    QVERIFY(c.daemon.waitForLines(1));
    QVERIFY(c.daemon.lines().first().startsWith(R"({"magic":"KESTRIX_IPC")"));
    QTRY_COMPARE(c.client->status(), QStringLiteral("connected — sending handshake"));
}

void TestPipeClientLifecycle::elevenAttemptsWithoutDaemon()
{
    FakeDaemon daemon; // sets KESTRIX_PIPE to a path where nobody listens
    PipeClient client;
    auto *socket = client.findChild<QLocalSocket *>();
    QVERIFY(socket);
    QSignalSpy states(socket, &QLocalSocket::stateChanged);

    QElapsedTimer clock;
    clock.start();
    client.connectToPipe();
    QTRY_COMPARE_WITH_TIMEOUT(countAttempts(states), 11, 15000);
    QVERIFY(clock.elapsed() >= 10 * 450); // 500 ms apart
    QVERIFY(client.status().startsWith(QStringLiteral("error: ")));
    QTest::qWait(800); // the quick round is spent: the twelfth waits a whole second
    QCOMPARE(countAttempts(states), 11);

    // A new connectToPipe refills the budget.
    QVERIFY(daemon.listen());
    client.connectToPipe();
    QVERIFY(daemon.waitForConnection(1));
}

void TestPipeClientLifecycle::noReconnectAfterShutdown()
{
    ConnectedClient c;
    QVERIFY(c.start());
    c.client->sendShutdown();
    QVERIFY(c.daemon.waitForLines(1));
    QCOMPARE(c.daemon.lines().first(), QByteArray(R"({"cmd":"shutdown"})"));
    c.daemon.drop();
    QTRY_COMPARE(c.client->status(), QStringLiteral("disconnected"));
    QTest::qWait(1200);
    QCOMPARE(c.daemon.connections(), 1);

    // The next ordinary disconnect schedules a reconnect again.
    c.client->connectToPipe();
    QVERIFY(c.daemon.waitForConnection(2));
    QTRY_COMPARE(c.client->status(), QStringLiteral("connected — sending handshake"));
    c.daemon.drop();
    QVERIFY(c.daemon.waitForConnection(3));
}

void TestPipeClientLifecycle::connectToPipeWhileConnected()
{
    ConnectedClient c;
    QVERIFY(c.start());
    QStringList statuses;
    connect(c.client.get(), &PipeClient::statusChanged, this,
            [&] { statuses << c.client->status(); });
    c.client->connectToPipe();
    QVERIFY(c.daemon.waitForConnection(2));
    QTRY_COMPARE(c.daemon.disconnects(), 1); // the old connection was closed
    QTRY_COMPARE(c.client->status(), QStringLiteral("connected — sending handshake"));
    QVERIFY(statuses.contains(QStringLiteral("connecting...")));
    QTest::qWait(800); // the drop's reconnect timer finds the socket busy
    QCOMPARE(c.daemon.connections(), 2);
}

void TestPipeClientLifecycle::partialLineDoesNotSurviveReconnect()
{
    ConnectedClient c;
    QVERIFY(c.start());
    const QByteArray unfinished = R"({"type":"status","status":"conn)";
    QVERIFY2(c.daemon.sendRaw(unfinished), "no client connected");
    QTest::qWait(100);
    c.daemon.drop();
    QVERIFY(c.daemon.waitForConnection(2));
    QVERIFY(c.deliver(R"({"type":"login_complete"})"));
    QVERIFY(c.client->authenticated()); // not swallowed by the dead line's remains
}

void TestPipeClientLifecycle::oversizedLineKeepsConnection()
{
    ConnectedClient c;
    QVERIFY(c.start());
    QSignalSpy status(c.client.get(), &PipeClient::statusChanged);
    QVERIFY2(c.daemon.sendRaw(QByteArray(3 * 1024 * 1024, 'a')), "no client connected");
    QVERIFY(c.deliver({"", R"({"type":"login_complete"})"}));
    QVERIFY(c.client->authenticated());
    QCOMPARE(c.daemon.disconnects(), 0);
}

QTEST_GUILESS_MAIN(TestPipeClientLifecycle)
#include "tst_pipeclient_lifecycle.moc"
