#include "ipc/peercredentials_unix.h"
#include "ipc/peertrust.h"

#include "clientfixture.h"
#include "foreignserver.h"

#include <QLocalServer>
#include <QtTest>

#include <unistd.h>

// Whom the client accepts as its daemon, and what a refused one receives.
class TestPeerTrust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("PROGRAMDATA"); }
    void decision_data();
    void decision();
    void ownServerIdentified();
    void foreignServerRefused();
};

void TestPeerTrust::decision_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<QString>("user");
    QTest::addColumn<qulonglong>("processId");
    QTest::addColumn<qulonglong>("serviceProcessId");
    QTest::addColumn<bool>("trusted");

    // Our policy: own user "1000", system "0"; Windows adds the service's process.
    QTest::newRow("own user") << true << "1000" << 0ull << 0ull << true;
    QTest::newRow("system user") << true << "0" << 0ull << 0ull << true;
    QTest::newRow("another user") << true << "1001" << 0ull << 0ull << false;
    QTest::newRow("user id prefix is not the user") << true << "10000" << 0ull << 0ull << false;
    QTest::newRow("empty user") << true << "" << 0ull << 0ull << false;
    QTest::newRow("unidentified peer") << false << "1000" << 0ull << 0ull << false;
    QTest::newRow("unidentified system") << false << "0" << 0ull << 0ull << false;
    QTest::newRow("service process") << true << "S-1-5-21-9" << 4242ull << 4242ull << true;
    QTest::newRow("other process") << true << "S-1-5-21-9" << 4243ull << 4242ull << false;
    QTest::newRow("no service, process 0") << true << "S-1-5-21-9" << 0ull << 0ull << false;
    QTest::newRow("unidentified service process") << false << "" << 4242ull << 4242ull << false;
}

void TestPeerTrust::decision()
{
    QFETCH(bool, known);
    QFETCH(QString, user);
    QFETCH(qulonglong, processId);
    QFETCH(qulonglong, serviceProcessId);
    QFETCH(bool, trusted);

    PeerIdentity peer;
    peer.known = known;
    peer.user = user.toStdString();
    peer.processId = static_cast<unsigned long>(processId);
    TrustPolicy policy;
    policy.ownUser = "1000";
    policy.systemUser = "0";
    policy.serviceProcessId = static_cast<unsigned long>(serviceProcessId);
    QCOMPARE(isTrustedDaemon(peer, policy), trusted);
}

void TestPeerTrust::ownServerIdentified()
{
    // A server of our own user is identified as us and trusted: the
    // handshake goes out.
    FakeDaemon daemon;
    QVERIFY(daemon.listen());
    PipeClient client;
    auto *socket = client.findChild<QLocalSocket *>();
    QVERIFY(socket);
    client.connectToPipe();
    QVERIFY(daemon.waitForLines(1));
    const PeerIdentity peer = peerIdentityOfSocket(int(socket->socketDescriptor()));
    QVERIFY(peer.known);
    QCOMPARE(peer.user, std::to_string(geteuid()));
    QVERIFY(isTrustedDaemon(peer, currentTrustPolicy()));
    QVERIFY(daemon.lines().first().startsWith(R"({"magic":"KESTRIX_IPC")"));
}

void TestPeerTrust::foreignServerRefused()
{
    if (geteuid() != 0)
        QSKIP("needs root to serve the socket as another user (uid 65534); runs in CI as root");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray path = QFile::encodeName(dir.path()) + "/foreign.sock";
    QCOMPARE(chown(QFile::encodeName(dir.path()).constData(), ForeignServer::kNobody,
                   ForeignServer::kNobody),
             0);
    qputenv("KESTRIX_PIPE", path);
    QTemporaryDir programData; // a real token that must not leave
    qputenv("PROGRAMDATA", programData.path().toUtf8());
    QVERIFY(QDir(programData.path()).mkpath("Kestrix"));
    QFile token(programData.path() + "/Kestrix/pipe.token");
    QVERIFY(token.open(QIODevice::WriteOnly));
    token.write("s3cr3t");
    token.close();

    ForeignServer foreign;
    auto cleanup = qScopeGuard([&] {
        foreign.stop();
        qunsetenv("PROGRAMDATA");
        qunsetenv("KESTRIX_PIPE");
    });
    const ForeignServer::Start started = foreign.start(QFile::decodeName(path));
    if (started == ForeignServer::Start::CannotChangeUser)
        QSKIP("this root may not switch to uid 65534 (no CAP_SETUID)");
    QVERIFY2(started == ForeignServer::Start::Serving, "the child did not start serving");

    PipeClient client;
    QStringList statuses;
    connect(&client, &PipeClient::statusChanged, this, [&] { statuses << client.status(); });
    client.connectToPipe();

    // Two attempts, the first and its retry: both refused, both empty-handed.
    for (int attempt = 0; attempt < 2; ++attempt) {
        qint64 received = -1;
        QVERIFY2(foreign.nextConnection(&received, 10000), "the foreign server saw no connection");
        QCOMPARE(received, qint64(0));
    }
    QCOMPARE(client.status(), QStringLiteral("error: daemon identity not verified"));
    // A refusal is a failed attempt, never an ordinary connect or disconnect.
    QVERIFY2(!statuses.contains(QStringLiteral("connected — sending handshake")),
             qPrintable(statuses.join(" | ")));
    QVERIFY2(!statuses.contains(QStringLiteral("disconnected")), qPrintable(statuses.join(" | ")));
}

QTEST_GUILESS_MAIN(TestPeerTrust)
#include "tst_peertrust.moc"
