#include "ipc/daemonpeer_unix.h"
#include "ipc/peercredentials_unix.h"
#include "ipc/peertrust.h"
#include "ipc/servicemainpid_unix.h"

#include "ipc/protocol.h"

#include "clientfixture.h"
#include "foreignserver.h"
#include "privatehomemain.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QPointer>
#include <QStandardPaths>
#include <QtTest>

#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Stands in for systemd: the kestrix unit's main process is pid, told a
// little later as the real answer would be.
void fakeServiceMainPid(qint64 pid)
{
    DaemonPeer::setMainPidLookup([pid](QObject *context, std::function<void(qint64)> answer) {
        QTimer::singleShot(20, context, [answer, pid] { answer(pid); });
    });
}

// Stands in for systemd and answers only when the test says so, in the
// order it chooses: each question waits until answer() releases it.
class HeldMainPidLookup
{
public:
    HeldMainPidLookup()
    {
        DaemonPeer::setMainPidLookup([this](QObject *context, std::function<void(qint64)> answer) {
            m_questions.append({QPointer<QObject>(context), std::move(answer)});
        });
    }
    HeldMainPidLookup(const HeldMainPidLookup &) = delete;
    HeldMainPidLookup &operator=(const HeldMainPidLookup &) = delete;
    ~HeldMainPidLookup() { DaemonPeer::setMainPidLookup({}); }

    qsizetype asked() const { return m_questions.size(); }

    // Answers the index-th question (from 0) as systemd would: nothing
    // reaches an asker that is gone.
    void answer(qsizetype index, qint64 pid)
    {
        const Question question = m_questions.at(index);
        if (question.context)
            question.answer(pid);
    }

private:
    struct Question
    {
        QPointer<QObject> context;
        std::function<void(qint64)> answer;
    };
    QList<Question> m_questions;
};

// The policy of the decision tables: own user "1000", system "0".
TrustPolicy tablePolicy(qulonglong serviceProcessId)
{
    TrustPolicy policy;
    policy.ownUser = "1000";
    policy.systemUser = "0";
    policy.serviceProcessId = static_cast<unsigned long>(serviceProcessId);
    return policy;
}

PeerIdentity tablePeer(bool known, const QString &user, qulonglong processId)
{
    PeerIdentity peer;
    peer.known = known;
    peer.user = user.toStdString();
    peer.processId = static_cast<unsigned long>(processId);
    return peer;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

// Whom the client accepts as its daemon, and what a refused one receives.
class TestPeerTrust : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("PROGRAMDATA"); }
    void decision_data();
    void decision();
    void endpointOwnerDecision_data();
    void endpointOwnerDecision();
    void ownServerIdentified();
    void endpointCheckedBeforeConnecting_data();
    void endpointCheckedBeforeConnecting();
    void foreignServerRefused();
    void serviceAccountDaemon_data();
    void serviceAccountDaemon();
    void nothingSentWhileVerifying_data();
    void nothingSentWhileVerifying();
    void floodWhileVerifying();
    void staleAnswerDecidesNothing();
    void serviceAccountDiagnostics();
    void mainPidFromShowOutput_data();
    void mainPidFromShowOutput();
    void mainPidQuery_data();
    void mainPidQuery();
    void mainPidQueryGoneWithItsContext();
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

    QCOMPARE(isTrustedDaemon(tablePeer(known, user, processId), tablePolicy(serviceProcessId)),
             trusted);
}

void TestPeerTrust::endpointOwnerDecision_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<qulonglong>("processId");
    QTest::addColumn<qulonglong>("serviceProcessId");
    QTest::addColumn<long>("endpointOwner");
    QTest::addColumn<bool>("trusted");

    // Own user "1000", system "0".
    QTest::newRow("own path, own server") << "1000" << 7ull << 0ull << -1L << true;
    QTest::newRow("own path, the service as another account")
        << "999" << 4242ull << 4242ull << -1L << true;
    QTest::newRow("own path, another account's other process")
        << "999" << 4243ull << 4242ull << -1L << false;
    QTest::newRow("service's path, its own process") << "999" << 4242ull << 4242ull << 999L << true;
    QTest::newRow("service's path, another process of the account")
        << "999" << 4243ull << 4242ull << 999L << false;
    QTest::newRow("service's path, no service running")
        << "999" << 4242ull << 0ull << 999L << false;
    // A path of another account is not ours to trust because root answers it.
    QTest::newRow("another account's path, root serves") << "0" << 1ull << 4242ull << 999L << false;
    QTest::newRow("another account's path, we serve") << "1000" << 7ull << 4242ull << 999L << false;
    QTest::newRow("the service's process as a third account")
        << "998" << 4242ull << 4242ull << 999L << false;
}

void TestPeerTrust::endpointOwnerDecision()
{
    QFETCH(QString, user);
    QFETCH(qulonglong, processId);
    QFETCH(qulonglong, serviceProcessId);
    QFETCH(long, endpointOwner);
    QFETCH(bool, trusted);

    QCOMPARE(DaemonPeer::isTrustedServer(tablePeer(true, user, processId),
                                         tablePolicy(serviceProcessId), endpointOwner),
             trusted);
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
    QCOMPARE(peer.processId, static_cast<unsigned long>(getpid()));
}

void TestPeerTrust::endpointCheckedBeforeConnecting_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("reached");

    QTest::newRow("private folder") << "private" << true;
    // Another user made the name a link to a socket the client would trust.
    QTest::newRow("link in a sticky folder") << "sticky-link" << false;
    QTest::newRow("link in a private folder") << "private-link" << false;
    QTest::newRow("socket in a folder others may write") << "open-folder" << false;
}

void TestPeerTrust::endpointCheckedBeforeConnecting()
{
    QFETCH(QString, layout);
    QFETCH(bool, reached);

    FakeDaemon daemon;
    QVERIFY(daemon.listen());
    QTemporaryDir other;
    const QString link = other.path() + "/kestrix.sock";
    if (layout == "sticky-link" || layout == "private-link") {
        if (layout == "sticky-link")
            QCOMPARE(::chmod(QFile::encodeName(other.path()).constData(), 01777), 0);
        QVERIFY(QFile::link(daemon.path(), link));
        qputenv("KESTRIX_PIPE", QFile::encodeName(link));
    } else if (layout == "open-folder") {
        const QByteArray folder = QFile::encodeName(QFileInfo(daemon.path()).path());
        QCOMPARE(::chmod(folder.constData(), 0777), 0);
    }

    PipeClient client;
    QStringList statuses;
    connect(&client, &PipeClient::statusChanged, this, [&] { statuses << client.status(); });
    client.connectToPipe();
    if (reached) {
        QVERIFY(daemon.waitForLines(1));
        QCOMPARE(client.status(), QStringLiteral("connected — sending handshake"));
        return;
    }
    QVERIFY2(client.status().startsWith(QStringLiteral("error: the daemon's socket")),
             qPrintable(client.status()));
    // Refused like a daemon that is not there: the next attempt is scheduled.
    QVERIFY(client.nextAttemptAt() > 0);
    QTest::qWait(700);
    QCOMPARE(daemon.connections(), 0);
    QVERIFY2(!statuses.contains(QStringLiteral("connected — sending handshake")),
             qPrintable(statuses.join(" | ")));
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
    DaemonPeer::setMainPidLookup({}); // the real question to systemd: no kestrix unit here
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

namespace {

// A server of uid 65534 on a fresh socket path that KESTRIX_PIPE names, and a
// token "s3cr3t" for it not to get; undone with the object.
struct ForeignSetup
{
    QTemporaryDir dir;
    QTemporaryDir programData;
    ForeignServer server;

    ForeignServer::Start start(const QByteArray &greeting = {})
    {
        const QString path = dir.path() + "/kestrix.sock";
        qputenv("KESTRIX_PIPE", QFile::encodeName(path));
        qputenv("PROGRAMDATA", QFile::encodeName(programData.path()));
        if (!QDir(programData.path()).mkpath("Kestrix") ||
            !writeFile(programData.path() + "/Kestrix/pipe.token", "s3cr3t"))
            return ForeignServer::Start::Failed;
        return server.start(path, greeting);
    }

    ~ForeignSetup()
    {
        server.stop();
        qunsetenv("PROGRAMDATA");
        qunsetenv("KESTRIX_PIPE");
    }
};

} // namespace

#define START_FOREIGN(setup, greeting)                                                             \
    do {                                                                                           \
        if (geteuid() != 0)                                                                        \
            QSKIP("needs root to serve the socket as another user (uid 65534); runs in CI as "     \
                  "root");                                                                         \
        const ForeignServer::Start started = (setup).start(greeting);                              \
        if (started == ForeignServer::Start::CannotChangeUser)                                     \
            QSKIP("this root may not switch to uid 65534 (no CAP_SETUID)");                        \
        QVERIFY2(started == ForeignServer::Start::Serving, "the child did not start serving");     \
    } while (false)

void TestPeerTrust::serviceAccountDaemon_data()
{
    QTest::addColumn<QString>("mainProcess"); // the server's, another, none
    QTest::addColumn<bool>("trusted");

    QTest::newRow("the unit's main process") << "server" << true;
    QTest::newRow("another process of the account") << "other" << false;
    QTest::newRow("unit not running") << "none" << false;
}

// A daemon that runs as a dedicated account (uid 65534 here) in a socket of
// its own: trusted when systemd names it the kestrix unit's main process.
void TestPeerTrust::serviceAccountDaemon()
{
    QFETCH(QString, mainProcess);
    QFETCH(bool, trusted);
    ForeignSetup foreign;
    auto cleanup = qScopeGuard([] { DaemonPeer::setMainPidLookup({}); });
    // It speaks first: nothing of it may be read before it is trusted.
    START_FOREIGN(foreign, R"({"type":"ready","version":"6.6.6"})"
                           "\n");
    fakeServiceMainPid(mainProcess == "server"  ? foreign.server.pid()
                       : mainProcess == "other" ? foreign.server.pid() + 1
                                                : 0);

    auto client = std::make_unique<PipeClient>();
    QStringList statuses;
    connect(client.get(), &PipeClient::statusChanged, this, [&] { statuses << client->status(); });
    client->connectToPipe();
    qint64 received = -1;
    if (trusted) {
        QTRY_COMPARE(client->status(), QStringLiteral("ready — daemon v6.6.6"));
        QCOMPARE(statuses.indexOf(QStringLiteral("connected — sending handshake")),
                 statuses.indexOf(QStringLiteral("ready — daemon v6.6.6")) - 1);
        client.reset(); // the server reports what it got once we are gone
        QVERIFY2(foreign.server.nextConnection(&received, 10000), "the server saw no connection");
        QVERIFY(received > 0);
        return;
    }
    QVERIFY2(foreign.server.nextConnection(&received, 10000), "the server saw no connection");
    QCOMPARE(received, qint64(0));
    QCOMPARE(client->status(), QStringLiteral("error: daemon identity not verified"));
    QVERIFY2(!statuses.join(" | ").contains(QStringLiteral("6.6.6")),
             qPrintable(statuses.join(" | ")));
}

void TestPeerTrust::nothingSentWhileVerifying_data()
{
    QTest::addColumn<bool>("trusted");

    QTest::newRow("then trusted") << true;
    QTest::newRow("then refused") << false;
}

// The user signs in twice, saves diagnostics and quits while systemd has not
// yet said whether the server is the service: none of it may reach a server
// before its handshake, and nothing at all one that is refused.
void TestPeerTrust::nothingSentWhileVerifying()
{
    QFETCH(bool, trusted);
    ForeignSetup foreign;
    HeldMainPidLookup systemd;
    START_FOREIGN(foreign, QByteArray());

    auto client = std::make_unique<PipeClient>();
    client->connectToPipe();
    QTRY_COMPARE(systemd.asked(), 1);
    client->sendLoginStart();
    client->sendLoginStart();
    client->sendGetDiag();
    client->sendStatusQuery();
    QCOMPARE(client->status(), QStringLiteral("not connected"));
    client->sendShutdown(); // the quit hook's request
    QCOMPARE(client->status(), QStringLiteral("not connected"));

    systemd.answer(0, trusted ? foreign.server.pid() : 0);
    qint64 received = -1;
    if (trusted) {
        QCOMPARE(client->status(), QStringLiteral("connected — sending handshake"));
        client.reset(); // the server reports what it got once we are gone
        QVERIFY2(foreign.server.nextConnection(&received, 10000), "the server saw no connection");
        QCOMPARE(received, qint64(Protocol::handshake(QStringLiteral("s3cr3t")).size()));
        return;
    }
    QVERIFY2(foreign.server.nextConnection(&received, 10000), "the server saw no connection");
    QCOMPARE(received, qint64(0));
    QCOMPARE(client->status(), QStringLiteral("error: daemon identity not verified"));
}

// A server that floods while its verdict is pending: what is held of it stays
// small, and it is refused, even when systemd names it the service.
void TestPeerTrust::floodWhileVerifying()
{
    ForeignSetup foreign;
    HeldMainPidLookup systemd;
    START_FOREIGN(foreign, QByteArray(4 * 1024 * 1024, '{'));

    PipeClient client;
    auto *socket = client.findChild<QLocalSocket *>();
    QVERIFY(socket);
    client.connectToPipe();
    QTRY_COMPARE(systemd.asked(), 1);
    QTRY_VERIFY(socket->bytesAvailable() >= DaemonPeer::kMaxBytesBeforeTrust);
    // Room for the rest of the flood to come in, were anything to let it.
    for (int round = 0; round < 20; ++round) {
        QTest::qWait(10);
        QVERIFY2(socket->bytesAvailable() <= DaemonPeer::kMaxBytesBeforeTrust,
                 QByteArray::number(socket->bytesAvailable()));
    }

    systemd.answer(0, foreign.server.pid());
    qint64 received = -1;
    QVERIFY2(foreign.server.nextConnection(&received, 10000), "the server saw no connection");
    QCOMPARE(received, qint64(0));
    QCOMPARE(client.status(), QStringLiteral("error: daemon identity not verified"));
    QVERIFY(client.nextAttemptAt() > 0); // a failed attempt: the next one is scheduled
}

// systemd's answer about an earlier connection arrives while a newer one waits
// for its own: it decides nothing, and the newer one's own answer does.
void TestPeerTrust::staleAnswerDecidesNothing()
{
    ForeignSetup foreign;
    HeldMainPidLookup systemd;
    START_FOREIGN(foreign, QByteArray());

    PipeClient client;
    QStringList statuses;
    connect(&client, &PipeClient::statusChanged, this, [&] { statuses << client.status(); });
    client.connectToPipe();
    QTRY_COMPARE(systemd.asked(), 1);
    client.connectToPipe(); // a new connection before the first was decided
    QTRY_COMPARE(systemd.asked(), 2);
    qint64 received = -1;
    QVERIFY2(foreign.server.nextConnection(&received, 10000), "the first connection did not end");
    QCOMPARE(received, qint64(0));

    // The first connection's server was the service then; it is not now.
    systemd.answer(0, foreign.server.pid());
    QVERIFY2(!statuses.contains(QStringLiteral("connected — sending handshake")),
             qPrintable(statuses.join(" | ")));
    systemd.answer(1, 0);
    QVERIFY2(foreign.server.nextConnection(&received, 10000), "the second connection did not end");
    QCOMPARE(received, qint64(0));
    QCOMPARE(client.status(), QStringLiteral("error: daemon identity not verified"));
}

// A daemon trusted as the service's own process under an account of its own
// writes its diagnostics file as that account: the copy is made.
void TestPeerTrust::serviceAccountDiagnostics()
{
    QTemporaryDir sources;
    const QString source = sources.path() + "/kestrix-diag.zip";
    QVERIFY(writeFile(source, "PK-diagnostics"));
    if (geteuid() == 0)
        QCOMPARE(::chown(QFile::encodeName(source).constData(), ForeignServer::kNobody,
                         ForeignServer::kNobody),
                 0);
    ForeignSetup foreign;
    HeldMainPidLookup systemd;
    // Its answer waits unread until the request has gone out.
    START_FOREIGN(foreign,
                  R"({"type":"diag_ready","diag_path":")" + QFile::encodeName(source) + "\"}\n");
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QVERIFY(QDir().mkpath(desktop));

    PipeClient client;
    client.connectToPipe();
    QTRY_COMPARE(systemd.asked(), 1);
    systemd.answer(0, foreign.server.pid());
    QCOMPARE(client.status(), QStringLiteral("connected — sending handshake"));
    client.sendGetDiag();
    QTRY_COMPARE(client.status(), "diag saved: " + desktop + "/kestrix-diag.zip");
    QFile copy(desktop + "/kestrix-diag.zip");
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), QByteArray("PK-diagnostics"));
}

void TestPeerTrust::mainPidFromShowOutput_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<qint64>("pid");

    QTest::newRow("running") << QByteArray("MainPID=4242\n") << qint64(4242);
    QTest::newRow("not running") << QByteArray("MainPID=0\n") << qint64(0);
    QTest::newRow("empty") << QByteArray() << qint64(0);
    QTest::newRow("not a number") << QByteArray("MainPID=abc\n") << qint64(0);
    QTest::newRow("negative") << QByteArray("MainPID=-1\n") << qint64(0);
    QTest::newRow("too large") << QByteArray("MainPID=99999999999\n") << qint64(0);
    QTest::newRow("another property") << QByteArray("ActiveState=active\n") << qint64(0);
    QTest::newRow("value only") << QByteArray("4242\n") << qint64(0);
}

void TestPeerTrust::mainPidFromShowOutput()
{
    QFETCH(QByteArray, output);
    QFETCH(qint64, pid);
    QCOMPARE(ServiceMainPid::fromShowOutput(output), pid);
}

void TestPeerTrust::mainPidQuery_data()
{
    QTest::addColumn<QByteArray>("script"); // empty: no such program
    QTest::addColumn<qint64>("pid");

    QTest::newRow("answers") << QByteArray("echo MainPID=4242") << qint64(4242);
    QTest::newRow("fails") << QByteArray("echo MainPID=4242; exit 1") << qint64(0);
    QTest::newRow("hangs") << QByteArray("exec sleep 30") << qint64(0);
    QTest::newRow("no systemctl") << QByteArray() << qint64(0);
}

void TestPeerTrust::mainPidQuery()
{
    QFETCH(QByteArray, script);
    QFETCH(qint64, pid);

    QTemporaryDir dir;
    const QString program = dir.path() + "/systemctl";
    const QString arguments = dir.path() + "/arguments";
    if (!script.isEmpty()) {
        QVERIFY(writeFile(program, "#!/bin/sh\necho \"$@\" > '" + QFile::encodeName(arguments) +
                                       "'\n" + script + "\n"));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
    }

    QObject context;
    std::optional<qint64> answer;
    QElapsedTimer clock;
    clock.start();
    ServiceMainPid::query(
        program, "kestrix.service", &context, [&answer](qint64 found) { answer = found; }, 500);
    QVERIFY(!answer); // never while the interface waits
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(*answer, pid);
    QVERIFY(clock.elapsed() < 5000);
    if (!script.isEmpty()) {
        QFile asked(arguments);
        QVERIFY(asked.open(QIODevice::ReadOnly));
        QCOMPARE(asked.readAll().trimmed(),
                 QByteArray("show --no-pager --property=MainPID kestrix.service"));
    }
    QTest::qWait(100);
    QCOMPARE(*answer, pid); // answered once
}

void TestPeerTrust::mainPidQueryGoneWithItsContext()
{
    QTemporaryDir dir;
    const QString program = dir.path() + "/systemctl";
    QVERIFY(writeFile(program, "#!/bin/sh\nsleep 0.2; echo MainPID=4242\n"));
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
    bool answered = false;
    {
        QObject context;
        ServiceMainPid::query(program, "kestrix.service", &context,
                              [&answered](qint64) { answered = true; });
    }
    QTest::qWait(500);
    QVERIFY(!answered);
}

KESTRIX_PRIVATE_HOME_MAIN(TestPeerTrust)
#include "tst_peertrust.moc"
