#include "daemonprocess.h"
#include "ipc/pipeclient.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The development daemon as a separate process, driven through its pipe the
// way the interface drives the real daemon: raw lines, and the real PipeClient.
class TestDevDaemon : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void handshake_data();
    void handshake();
    void tokenIsPrivateAndFreshEachStart();
    void withoutProgramDataAnEmptyTokenIsExpected();
    void unsafeProgramDataFolderStopsTheStart_data();
    void unsafeProgramDataFolderStopsTheStart();
    void plantedLinksAreReplacedNotFollowed_data();
    void plantedLinksAreReplacedNotFollowed();
    void secondDaemonLeavesTheFirstAlone();
    void badArguments_data();
    void badArguments();

    void pingAndFullStatus();
    void signInThroughThePage();
    void cancelledOrDeclinedSignIn();
    void autoLogin();
    void connectCountsTrafficAndDisconnects();
    void connectWhileSignedOutIsRefused();
    void dropEveryPassesThroughReconnecting();
    void failConnect_data();
    void failConnect();
    void killSwitchModeAndSignInSurviveARestart();
    void logoutEndsTunnelAndSession();
    void diagnosticsZip();
    void updateOfferDownloadAndApply();
    void updateCommandsWithoutAnOffer();
    void shutdownEndsTheProcess();

    void logRecordsEveryLineAsRead();
    void tokenNeverReachesTheLogs();
    void tooManyClientsAreTurnedAway();
    void silentClientIsDroppedAfterTheHandshakeTimeout();
    void clientThatDoesNotReadIsDropped();
    void garbageAndBrokenClientsDoNoHarm();
    void scriptPlaysTimedEvents();
    void badScriptStopsTheStart();
    void realPipeClientSignsInAndConnects();

private:
    Peer *signedInPeer(const QStringList &args = {});

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DaemonProcess> m_daemon;
    std::vector<std::unique_ptr<Peer>> m_peers;
};

void TestDevDaemon::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_daemon = std::make_unique<DaemonProcess>(m_dir->path());
}

void TestDevDaemon::cleanup()
{
    m_peers.clear();
    m_daemon.reset();
    m_dir.reset();
}

Peer *TestDevDaemon::signedInPeer(const QStringList &args)
{
    if (!m_daemon->start(QStringList{QStringLiteral("--auto-login"), QStringLiteral("0"),
                                     QStringLiteral("--connect-delay"), QStringLiteral("0.2")} +
                         args))
        return nullptr;
    m_peers.push_back(std::make_unique<Peer>());
    Peer *peer = m_peers.back().get();
    if (!peer->handshake(m_daemon->socket(), m_daemon->token()))
        return nullptr;
    peer->command(QStringLiteral("login_start"));
    if (peer->waitFor(QStringLiteral("login_complete")).isEmpty())
        return nullptr;
    peer->clear();
    return peer;
}

// The handshake as the daemon's log shows it: the token as a fingerprint.
static QByteArray redactedHandshake(const QString &token)
{
    const QByteArray fingerprint =
        QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex().left(8);
    return R"({"magic":"KESTRIX_IPC","token":"redacted:)" + fingerprint + R"(","version":1})";
}

static std::function<bool(const QJsonObject &)> withStatus(const QString &state)
{
    return [state](const QJsonObject &e) { return e.value(QStringLiteral("status")) == state; };
}

void TestDevDaemon::handshake_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("error"); // empty: accepted

    const QByteArray token = "@TOKEN@";
    QTest::newRow("valid") << QByteArray(R"({"magic":"KESTRIX_IPC","token":"@TOKEN@","version":1})")
                           << QString();
    QTest::newRow("valid, keys in another order, CRLF")
        << QByteArray("{\"version\":1,\"token\":\"@TOKEN@\",\"magic\":\"KESTRIX_IPC\"}\r")
        << QString();
    QTest::newRow("wrong magic") << QByteArray(
                                        R"({"magic":"kestrix_ipc","token":"@TOKEN@","version":1})")
                                 << QStringLiteral("handshake rejected: bad magic");
    QTest::newRow("no magic") << QByteArray(R"({"token":"@TOKEN@","version":1})")
                              << QStringLiteral("handshake rejected: bad magic");
    QTest::newRow("version 2")
        << QByteArray(R"({"magic":"KESTRIX_IPC","token":"@TOKEN@","version":2})")
        << QStringLiteral("handshake rejected: unsupported protocol version");
    QTest::newRow("version as text")
        << QByteArray(R"({"magic":"KESTRIX_IPC","token":"@TOKEN@","version":"1"})")
        << QStringLiteral("handshake rejected: unsupported protocol version");
    QTest::newRow("wrong token")
        << QByteArray(R"({"magic":"KESTRIX_IPC","token":"0123456789abcdef","version":1})")
        << QStringLiteral("handshake rejected: bad token");
    QTest::newRow("empty token") << QByteArray(R"({"magic":"KESTRIX_IPC","token":"","version":1})")
                                 << QStringLiteral("handshake rejected: bad token");
    QTest::newRow("command first")
        << QByteArray(R"({"cmd":"ping"})") << QStringLiteral("handshake rejected: bad magic");
    QTest::newRow("not JSON") << QByteArray("hello daemon") << QStringLiteral("handshake expected");
}

void TestDevDaemon::handshake()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, error);
    QVERIFY(m_daemon->start());
    const QString token = m_daemon->token();
    QVERIFY(!token.isEmpty());
    line.replace("@TOKEN@", token.toUtf8());

    Peer peer;
    QVERIFY(peer.open(m_daemon->socket()));
    // One write: a daemon that rejects the handshake closes the pipe, and a
    // second write racing that close would reset the socket and lose its reply.
    peer.sendRaw(line + '\n' + Protocol::command(QStringLiteral("ping")));
    if (error.isEmpty()) {
        QCOMPARE(peer.waitFor(QStringLiteral("ready")).value("version").toString(),
                 QStringLiteral("1.0.0-dev"));
        QVERIFY(!peer.waitFor(QStringLiteral("pong")).isEmpty());
        QVERIFY(peer.eventsOfType(QStringLiteral("error")).isEmpty());
    } else {
        QCOMPARE(peer.waitFor(QStringLiteral("error")).value("error").toString(), error);
        QVERIFY(peer.waitForClosed());
        QVERIFY(peer.eventsOfType(QStringLiteral("ready")).isEmpty());
        QVERIFY(peer.eventsOfType(QStringLiteral("pong")).isEmpty());
    }
    // Whatever the last client did, the next one is served.
    Peer next;
    QVERIFY(next.handshake(m_daemon->socket(), token));
}

void TestDevDaemon::tokenIsPrivateAndFreshEachStart()
{
    QVERIFY(m_daemon->start());
    const QString first = m_daemon->token();
    QVERIFY(first.size() >= 16);
    const QFile::Permissions permissions = QFileInfo(m_daemon->tokenPath()).permissions();
    QVERIFY(permissions.testFlags(QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(permissions & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                            QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
             QFile::Permissions());
    m_daemon->kill();

    QVERIFY(m_daemon->start());
    const QString second = m_daemon->token();
    QVERIFY(!second.isEmpty());
    QVERIFY(second != first);
    Peer stale;
    QVERIFY(stale.open(m_daemon->socket()));
    stale.sendRaw(Protocol::handshake(first));
    QCOMPARE(stale.waitFor(QStringLiteral("error")).value("error").toString(),
             QStringLiteral("handshake rejected: bad token"));
}

void TestDevDaemon::withoutProgramDataAnEmptyTokenIsExpected()
{
    QVERIFY(m_daemon->start({}, /*withProgramData=*/false));
    QVERIFY(!QFile::exists(m_daemon->tokenPath()));
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), QString()));
}

// PROGRAMDATA may lie in a shared place: a Kestrix folder there that someone
// else owns, or may write into, or that is a link, is not where the token goes.
void TestDevDaemon::unsafeProgramDataFolderStopsTheStart_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("reason");

    QTest::newRow("writable by everyone") << "mode 0777" << QByteArray("others may write");
    QTest::newRow("writable by the group") << "mode 0770" << QByteArray("others may write");
    QTest::newRow("another user's") << "foreign" << QByteArray("belongs to uid 65534");
    QTest::newRow("a link to a folder of ours") << "link" << QByteArray("a link?");
}

void TestDevDaemon::unsafeProgramDataFolderStopsTheStart()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, reason);

    const QString folder = m_daemon->programData() + "/Kestrix";
    const QString elsewhere = m_dir->path() + "/elsewhere";
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QDir().mkpath(m_daemon->programData()));
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (kind == "link") {
        QVERIFY(QFile::setPermissions(elsewhere, ownerOnly));
        QVERIFY(QFile::link(elsewhere, folder));
    } else {
        QVERIFY(QDir().mkpath(folder));
        const QFile::Permissions group = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup;
        const QFile::Permissions other = QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(folder, kind == "mode 0777"   ? ownerOnly | group | other
                                              : kind == "mode 0770" ? ownerOnly | group
                                                                    : ownerOnly));
        if (kind == "foreign") {
            if (geteuid() != 0)
                QSKIP("only root can give a folder to another user");
            QCOMPARE(chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        }
    }

    QVERIFY(!m_daemon->start());
    QVERIFY(m_daemon->waitForExit());
    QCOMPARE(m_daemon->process()->exitCode(), 1);
    const QByteArray stderrText = m_daemon->process()->readAllStandardError();
    QVERIFY2(stderrText.startsWith("kestrix-daemon: ") && stderrText.contains(reason),
             stderrText.constData());
    QVERIFY(!QFileInfo::exists(folder + "/pipe.token"));
    QVERIFY(!QFileInfo::exists(elsewhere + "/pipe.token"));
    QVERIFY(!QFileInfo::exists(m_daemon->socket()));
}

// Links left in the folder under the daemon's file names: replaced by the
// daemon's own files, and what they point at is neither read nor written.
void TestDevDaemon::plantedLinksAreReplacedNotFollowed_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("state") << "devdaemon-state.json";
    QTest::newRow("token") << "pipe.token";
}

void TestDevDaemon::plantedLinksAreReplacedNotFollowed()
{
    QFETCH(QString, name);

    const QString folder = m_daemon->programData() + "/Kestrix";
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // Would sign the daemon in, were it read.
    const QByteArray victimText = R"({"authenticated":true,"kill_switch_mode":"always"})";
    const QString victim = m_dir->path() + "/victim.json";
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(victimText), victimText.size());
    }
    QVERIFY(QFile::link(victim, folder + '/' + name));

    QVERIFY(m_daemon->start());
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), m_daemon->token()));
    peer.command(QStringLiteral("status"));
    const QJsonObject status = peer.waitFor(QStringLiteral("status"));
    QCOMPARE(status.value("authenticated"), QJsonValue(false));
    QCOMPARE(status.value("kill_switch_mode"), QJsonValue("never"));
    // Each file written afresh.
    peer.command(QStringLiteral("set_kill_switch"), {{"mode", "on_connect"}});
    QVERIFY(!peer.waitFor(QStringLiteral("status"),
                          [](const QJsonObject &e) {
                              return e.value("kill_switch_mode") == QLatin1String("on_connect");
                          })
                 .isEmpty());

    QCOMPARE(QFileInfo(folder + '/' + name).isSymLink(), false);
    QVERIFY(QFileInfo(folder + '/' + name).isFile());
    QFile victimFile(victim);
    QVERIFY(victimFile.open(QIODevice::ReadOnly));
    QCOMPARE(victimFile.readAll(), victimText);
    QFile state(folder + "/devdaemon-state.json");
    QVERIFY(state.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(state.readAll()).object().value("kill_switch_mode"),
             QJsonValue("on_connect"));
}

void TestDevDaemon::secondDaemonLeavesTheFirstAlone()
{
    QVERIFY(m_daemon->start());
    const QString token = m_daemon->token();

    // Started the way the launcher would: same environment, --foreground only.
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KESTRIX_PIPE"), m_daemon->socket());
    env.insert(QStringLiteral("PROGRAMDATA"), m_daemon->programData());
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(KESTRIX_DAEMON_BINARY), {QStringLiteral("--foreground")});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(second.readAllStandardError().contains("already serves"));

    QCOMPARE(m_daemon->token(), token);
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), token));
}

void TestDevDaemon::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown option") << QStringList{"--frobnicate"};
    QTest::newRow("auto-login not a number") << QStringList{"--auto-login", "soon"};
    QTest::newRow("negative delay") << QStringList{"--connect-delay", "-1"};
    QTest::newRow("drop-every zero") << QStringList{"--drop-every", "0"};
    QTest::newRow("fail-count negative") << QStringList{"--fail-count", "-2"};
    QTest::newRow("max-clients zero") << QStringList{"--max-clients", "0"};
    QTest::newRow("handshake-timeout zero") << QStringList{"--handshake-timeout", "0"};
    QTest::newRow("stray argument") << QStringList{"now"};
}

void TestDevDaemon::badArguments()
{
    QFETCH(QStringList, args);
    QProcess process;
    process.start(QStringLiteral(KESTRIX_DAEMON_BINARY),
                  QStringList{"--socket", m_dir->path() + "/bad.sock"} + args);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardError().startsWith("kestrix-daemon: "));
    QVERIFY(!QFile::exists(m_dir->path() + "/bad.sock"));
}

void TestDevDaemon::pingAndFullStatus()
{
    QVERIFY(m_daemon->start());
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), m_daemon->token()));
    peer.command(QStringLiteral("ping"));
    QCOMPARE(peer.waitFor(QStringLiteral("pong")).value("version").toString(),
             QStringLiteral("1.0.0-dev"));

    peer.command(QStringLiteral("status"));
    const QJsonObject status = peer.waitFor(QStringLiteral("status"));
    QCOMPARE(status.value("authenticated"), QJsonValue(false));
    QCOMPARE(status.value("kill_switch_mode"), QJsonValue("never"));
    QCOMPARE(status.value("status"), QJsonValue("disconnected"));
    for (const char *text : {"ip", "transport", "endpoint", "error", "connected_since"})
        QVERIFY2(status.value(text).isString(), text);
    for (const char *number : {"attempt", "up", "down"})
        QVERIFY2(status.value(number).isDouble(), number);

    peer.command(QStringLiteral("no_such_command"));
    QCOMPARE(peer.waitFor(QStringLiteral("error")).value("error").toString(),
             QStringLiteral("unknown command: no_such_command"));
}

void TestDevDaemon::signInThroughThePage()
{
    QVERIFY(m_daemon->start());
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), m_daemon->token()));
    peer.command(QStringLiteral("login_start"));
    const QJsonObject opened = peer.waitFor(QStringLiteral("browser_opened"));
    const QUrl url(opened.value("login_url").toString());
    QCOMPARE(url.scheme(), QStringLiteral("http"));
    QCOMPARE(url.host(), QStringLiteral("127.0.0.1"));
    QVERIFY(url.port() > 0);
    const QDateTime expires =
        QDateTime::fromString(opened.value("expires_at").toString(), Qt::ISODate);
    QVERIFY(expires.isValid());
    QCOMPARE(expires.timeSpec(), Qt::UTC);
    const qint64 secondsLeft = QDateTime::currentDateTimeUtc().secsTo(expires);
    QVERIFY2(secondsLeft > 290 && secondsLeft <= 300, QByteArray::number(secondsLeft));

    const HttpReply page = httpRequest("GET", url);
    QCOMPARE(page.code, 200);
    QVERIFY(page.body.contains("action=\"" + url.path().toLatin1() + "/approve\""));
    QVERIFY(
        peer.eventsOfType(QStringLiteral("login_complete")).isEmpty()); // looking is not approving

    QCOMPARE(httpRequest("GET", QUrl(url.toString() + "/approve")).code, 405);
    QCOMPARE(httpRequest("POST", QUrl(url.toString() + "/approve")).code, 200);
    QVERIFY(!peer.waitFor(QStringLiteral("login_complete")).isEmpty());
    QVERIFY(!peer.waitFor(QStringLiteral("status"),
                          [](const QJsonObject &e) { return e.value("authenticated").toBool(); })
                 .isEmpty());
    // One answer per offer; unknown pages are not found.
    QCOMPARE(httpRequest("POST", QUrl(url.toString() + "/approve")).code, 410);
    QCOMPARE(httpRequest("GET", url).code, 410);
    QUrl other = url;
    other.setPath(QStringLiteral("/favicon.ico"));
    QCOMPARE(httpRequest("GET", other).code, 404);
}

void TestDevDaemon::cancelledOrDeclinedSignIn()
{
    QVERIFY(m_daemon->start());
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), m_daemon->token()));

    peer.command(QStringLiteral("login_start"));
    const QUrl cancelled(
        peer.waitFor(QStringLiteral("browser_opened")).value("login_url").toString());
    peer.command(QStringLiteral("login_cancel"));
    QTRY_COMPARE(httpRequest("GET", cancelled).code, 410);
    QCOMPARE(httpRequest("POST", QUrl(cancelled.toString() + "/approve")).code, 410);

    peer.clear();
    peer.command(QStringLiteral("login_start"));
    const QUrl declined(
        peer.waitFor(QStringLiteral("browser_opened")).value("login_url").toString());
    QVERIFY(declined != cancelled);
    QCOMPARE(httpRequest("POST", QUrl(declined.toString() + "/deny")).code, 200);
    QCOMPARE(peer.waitFor(QStringLiteral("login_failed")).value("error").toString(),
             QStringLiteral("sign-in declined in the browser"));

    peer.command(QStringLiteral("status"));
    QCOMPARE(peer.waitFor(QStringLiteral("status")).value("authenticated"), QJsonValue(false));
    QVERIFY(peer.eventsOfType(QStringLiteral("login_complete")).isEmpty());
}

void TestDevDaemon::autoLogin()
{
    QVERIFY(m_daemon->start({QStringLiteral("--auto-login"), QStringLiteral("0.3")}));
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), m_daemon->token()));
    peer.command(QStringLiteral("login_start"));
    QVERIFY(!peer.waitFor(QStringLiteral("browser_opened")).isEmpty());
    QVERIFY(!peer.waitFor(QStringLiteral("login_complete")).isEmpty());
    // Approved by itself: the page's offer is used up.
    const QUrl url(peer.eventsOfType(QStringLiteral("browser_opened"))
                       .constFirst()
                       .value("login_url")
                       .toString());
    QCOMPARE(httpRequest("GET", url).code, 410);
}

void TestDevDaemon::connectCountsTrafficAndDisconnects()
{
    Peer *peer = signedInPeer();
    QVERIFY(peer);
    peer->command(QStringLiteral("connect"),
                  {{QStringLiteral("games"), false}, {QStringLiteral("whitelist"), true}});
    QVERIFY(!peer->waitFor(QStringLiteral("status"), withStatus("connecting")).isEmpty());
    const QJsonObject up = peer->waitFor(QStringLiteral("status"), withStatus("connected"));
    QVERIFY(!up.isEmpty());
    QVERIFY(up.value("ip").toString().startsWith("10."));
    QVERIFY(!up.value("transport").toString().isEmpty());
    QVERIFY(up.value("endpoint").toString().contains(':'));
    const QDateTime since =
        QDateTime::fromString(up.value("connected_since").toString(), Qt::ISODate);
    QVERIFY(since.isValid());
    QCOMPARE(since.timeSpec(), Qt::UTC);
    QVERIFY(qAbs(since.secsTo(QDateTime::currentDateTimeUtc())) < 60);

    // The counters grow between polls, and not by a fixed step.
    QList<double> downs;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            peer->clear();
            peer->command(QStringLiteral("status"));
            const QJsonObject s = peer->waitFor(QStringLiteral("status"));
            if (downs.isEmpty() || s.value("down").toDouble() > downs.constLast())
                downs << s.value("down").toDouble();
            return downs.size() >= 4;
        }(),
        20000);
    QVERIFY(downs.at(1) > 0);
    QVERIFY(downs.at(3) - downs.at(2) != downs.at(2) - downs.at(1));

    peer->clear();
    peer->command(QStringLiteral("disconnect"));
    const QJsonObject down = peer->waitFor(QStringLiteral("status"), withStatus("disconnected"));
    QVERIFY(!down.isEmpty());
    QCOMPARE(down.value("up").toDouble(), 0.0);
    QCOMPARE(down.value("connected_since").toString(), QString());
    QVERIFY(m_daemon->loggedLines().contains(
        R"({"cmd":"connect","payload":{"games":false,"whitelist":true}})"));
}

void TestDevDaemon::connectWhileSignedOutIsRefused()
{
    QVERIFY(m_daemon->start());
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), m_daemon->token()));
    peer.command(QStringLiteral("connect"), {{"games", false}, {"whitelist", false}});
    QCOMPARE(peer.waitFor(QStringLiteral("error")).value("error").toString(),
             QStringLiteral("not signed in"));
    peer.command(QStringLiteral("status"));
    QCOMPARE(peer.waitFor(QStringLiteral("status")).value("status"), QJsonValue("disconnected"));
}

void TestDevDaemon::dropEveryPassesThroughReconnecting()
{
    Peer *peer = signedInPeer({QStringLiteral("--drop-every"), QStringLiteral("0.5")});
    QVERIFY(peer);
    peer->command(QStringLiteral("connect"), {{"games", false}, {"whitelist", false}});
    const QJsonObject first = peer->waitFor(QStringLiteral("status"), withStatus("connected"));
    QVERIFY(!first.isEmpty());
    // Back up after the drop, with a fresh session.
    const QJsonObject again = peer->waitFor(
        QStringLiteral("status"),
        [&](const QJsonObject &e) {
            return e.value("status") == QLatin1String("connected") &&
                   e.value("connected_since") != first.value("connected_since");
        },
        20000);
    QVERIFY(!again.isEmpty());

    QList<int> attempts;
    for (const QJsonObject &e : peer->eventsOfType(QStringLiteral("status"))) {
        if (e.value("status") == QLatin1String("reconnecting"))
            attempts << e.value("attempt").toInt();
    }
    QCOMPARE(attempts, (QList<int>{1, 2, 3}));
    QCOMPARE(again.value("attempt").toInt(), 0);
    QCOMPARE(again.value("error").toString(), QString());
}

void TestDevDaemon::failConnect_data()
{
    QTest::addColumn<int>("failCount");
    QTest::addColumn<QStringList>("outcomes"); // of two connects in a row
    QTest::newRow("every connect fails") << 0 << QStringList{"failed", "failed"};
    QTest::newRow("only the first fails") << 1 << QStringList{"failed", "connected"};
}

void TestDevDaemon::failConnect()
{
    QFETCH(int, failCount);
    QFETCH(QStringList, outcomes);
    const QString text = QStringLiteral("All transports were blocked (test)");
    QStringList args{QStringLiteral("--fail-connect"), text};
    if (failCount)
        args << QStringLiteral("--fail-count") << QString::number(failCount);
    Peer *peer = signedInPeer(args);
    QVERIFY(peer);
    for (const QString &outcome : outcomes) {
        peer->clear();
        peer->command(QStringLiteral("connect"), {{"games", false}, {"whitelist", false}});
        QVERIFY(!peer->waitFor(QStringLiteral("status"), withStatus("connecting")).isEmpty());
        const QJsonObject end = peer->waitFor(QStringLiteral("status"), [](const QJsonObject &e) {
            return e.value("status") != QLatin1String("connecting");
        });
        QCOMPARE(end.value("status").toString(), outcome);
        QCOMPARE(end.value("error").toString(), outcome == "failed" ? text : QString());
    }
}

void TestDevDaemon::killSwitchModeAndSignInSurviveARestart()
{
    Peer *peer = signedInPeer();
    QVERIFY(peer);
    peer->command(QStringLiteral("set_kill_switch"), {{"mode", "always"}});
    peer->command(QStringLiteral("status"));
    QVERIFY(!peer->waitFor(QStringLiteral("status"),
                           [](const QJsonObject &e) {
                               return e.value("kill_switch_mode") == QLatin1String("always");
                           })
                 .isEmpty());

    peer->clear();
    peer->command(QStringLiteral("set_kill_switch"), {{"mode", "sometimes"}});
    peer->command(QStringLiteral("status"));
    QCOMPARE(peer->waitFor(QStringLiteral("error")).value("error").toString(),
             QStringLiteral("unknown kill switch mode: sometimes"));
    QCOMPARE(peer->waitFor(QStringLiteral("status")).value("kill_switch_mode"),
             QJsonValue("always"));

    // A killed daemon comes back with the same sign-in and mode, as a service would.
    m_daemon->kill();
    m_peers.clear();
    QVERIFY(m_daemon->start());
    Peer again;
    QVERIFY(again.handshake(m_daemon->socket(), m_daemon->token()));
    again.command(QStringLiteral("status"));
    const QJsonObject status = again.waitFor(QStringLiteral("status"));
    QCOMPARE(status.value("authenticated"), QJsonValue(true));
    QCOMPARE(status.value("kill_switch_mode"), QJsonValue("always"));
    QCOMPARE(status.value("status"), QJsonValue("disconnected"));
}

void TestDevDaemon::logoutEndsTunnelAndSession()
{
    Peer *peer = signedInPeer();
    QVERIFY(peer);
    peer->command(QStringLiteral("connect"), {{"games", true}, {"whitelist", false}});
    QVERIFY(!peer->waitFor(QStringLiteral("status"), withStatus("connected")).isEmpty());
    peer->clear();
    peer->command(QStringLiteral("logout"));
    QVERIFY(!peer->waitFor(QStringLiteral("logged_out")).isEmpty());
    peer->command(QStringLiteral("status"));
    const QJsonObject status = peer->waitFor(QStringLiteral("status"));
    QCOMPARE(status.value("authenticated"), QJsonValue(false));
    QCOMPARE(status.value("status"), QJsonValue("disconnected"));
}

void TestDevDaemon::diagnosticsZip()
{
    if (QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty())
        QSKIP("unzip is not installed (tools/install-deps installs it)");
    Peer *peer = signedInPeer();
    QVERIFY(peer);
    peer->command(QStringLiteral("get_diag"));
    const QString path = peer->waitFor(QStringLiteral("diag_ready")).value("diag_path").toString();
    QVERIFY(QFileInfo(path).isAbsolute());
    QVERIFY(QFileInfo(path).fileName().endsWith(".zip"));
    // In a folder of its own inside the temporary folder, made for it and
    // closed to everyone else: the temporary folder holds nothing else.
    const QFileInfo folder(QFileInfo(path).absolutePath());
    QCOMPARE(folder.absolutePath(), m_daemon->tempDir());
    QVERIFY(folder.fileName().startsWith("kestrix-diag-"));
    QVERIFY(!folder.isSymLink());
    QCOMPARE(folder.ownerId(), uint(getuid()));
    QCOMPARE(folder.permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(QDir(m_daemon->tempDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{folder.fileName()});

    QProcess unzip; // -t checks every entry's CRC
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-t"), path});
    QVERIFY(unzip.waitForFinished(10000));
    QCOMPARE(unzip.exitCode(), 0);
    unzip.start(QStringLiteral("unzip"),
                {QStringLiteral("-p"), path, QStringLiteral("status.json")});
    QVERIFY(unzip.waitForFinished(10000));
    const QJsonObject status = QJsonDocument::fromJson(unzip.readAllStandardOutput()).object();
    QCOMPARE(status.value("type"), QJsonValue("status"));
    QCOMPARE(status.value("authenticated"), QJsonValue(true));
}

void TestDevDaemon::updateOfferDownloadAndApply()
{
    QVERIFY(m_daemon->start({QStringLiteral("--offer-update"), QStringLiteral("9.9.9")}));
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), m_daemon->token()));
    QCOMPARE(peer.waitFor(QStringLiteral("update_available")).value("update_version").toString(),
             QStringLiteral("9.9.9"));

    peer.command(QStringLiteral("apply_update")); // not downloaded yet
    QVERIFY(peer.waitFor(QStringLiteral("error")).value("error").toString().startsWith("update "));

    peer.command(QStringLiteral("install_update"));
    QVERIFY(!peer.waitFor(QStringLiteral("update_ready")).isEmpty());
    QList<int> progress;
    for (const QJsonObject &e : peer.eventsOfType(QStringLiteral("update_progress")))
        progress << e.value("update_progress").toInt();
    QVERIFY(progress.size() > 2);
    QCOMPARE(progress.constFirst(), 0);
    QCOMPARE(progress.constLast(), 100);
    QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));

    peer.command(QStringLiteral("apply_update"));
    QVERIFY(!peer.waitFor(QStringLiteral("updating")).isEmpty());
    QVERIFY(peer.waitForClosed());
    QVERIFY(m_daemon->waitForExit());
    QCOMPARE(m_daemon->process()->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_daemon->process()->exitCode(), 0);
}

void TestDevDaemon::updateCommandsWithoutAnOffer()
{
    QVERIFY(m_daemon->start());
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), m_daemon->token()));
    peer.command(QStringLiteral("install_update"));
    QCOMPARE(peer.waitFor(QStringLiteral("error")).value("error").toString(),
             QStringLiteral("update not available"));
    peer.command(QStringLiteral("ping"));
    QVERIFY(!peer.waitFor(QStringLiteral("pong")).isEmpty());
    QVERIFY(peer.eventsOfType(QStringLiteral("update_available")).isEmpty());
    QVERIFY(peer.eventsOfType(QStringLiteral("update_progress")).isEmpty());
}

void TestDevDaemon::shutdownEndsTheProcess()
{
    QVERIFY(m_daemon->start());
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), m_daemon->token()));
    peer.command(QStringLiteral("shutdown"));
    QVERIFY(peer.waitForClosed());
    QVERIFY(m_daemon->waitForExit());
    QCOMPARE(m_daemon->process()->exitCode(), 0);
    QVERIFY(!QFile::exists(m_daemon->socket()));
}

void TestDevDaemon::logRecordsEveryLineAsRead()
{
    QVERIFY(m_daemon->start());
    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), m_daemon->token()));
    // Pieces cut mid-line, a carriage return, noise and a blank line.
    peer.sendRaw("{\"cmd\":\"pi");
    peer.sendRaw("ng\"}\r\nnot json at all\n\n[1,2]\n  {\"cmd\":\"status\"}  \n");
    QVERIFY(!peer.waitFor(QStringLiteral("status")).isEmpty());
    QVERIFY(!peer.waitFor(QStringLiteral("pong")).isEmpty());

    const QList<QByteArray> expected{
        redactedHandshake(m_daemon->token()),
        "{\"cmd\":\"ping\"}\r",
        "not json at all",
        "",
        "[1,2]",
        "  {\"cmd\":\"status\"}  ",
    };
    QTRY_COMPARE(m_daemon->loggedLines(), expected);
}

// The log and the diagnostics bundle are read by people and tools that must
// not learn the token: it would let them speak to the daemon.
void TestDevDaemon::tokenNeverReachesTheLogs()
{
    QVERIFY(m_daemon->start());
    const QByteArray token = m_daemon->token().toUtf8();
    QVERIFY(!token.isEmpty());
    Peer wrong; // a wrong token is no one's business either
    QVERIFY(wrong.open(m_daemon->socket()));
    wrong.sendRaw(Protocol::handshake(QStringLiteral("guess-0123456789")));
    QVERIFY(wrong.waitForClosed());

    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), QString::fromUtf8(token)));
    peer.sendRaw("{\"cmd\":\"ping\",\"note\":\"" + token + "\"}\nmy token is " + token + "\n");
    QVERIFY(!peer.waitFor(QStringLiteral("pong")).isEmpty());
    peer.command(QStringLiteral("get_diag"));
    const QString zip = peer.waitFor(QStringLiteral("diag_ready")).value("diag_path").toString();

    QList<QByteArray> expected{
        redactedHandshake(QStringLiteral("guess-0123456789")),
        redactedHandshake(QString::fromUtf8(token)),
        "{\"cmd\":\"ping\",\"note\":\"[redacted]\"}",
        "my token is [redacted]",
        "{\"cmd\":\"get_diag\"}",
    };
    QTRY_COMPARE(m_daemon->loggedLines(), expected);
    // The archive's entries are stored as they are: the journal is plain text in it.
    QFile archive(zip);
    QVERIFY(archive.open(QIODevice::ReadOnly));
    const QByteArray bytes = archive.readAll();
    QVERIFY(bytes.contains("my token is [redacted]"));
    QVERIFY(!bytes.contains(token));
}

void TestDevDaemon::tooManyClientsAreTurnedAway()
{
    QVERIFY(m_daemon->start({QStringLiteral("--max-clients"), QStringLiteral("2"),
                             QStringLiteral("--handshake-timeout"), QStringLiteral("60")}));
    const QString token = m_daemon->token();
    Peer first;
    QVERIFY(first.handshake(m_daemon->socket(), token));
    auto silent = std::make_unique<Peer>(); // counts before its handshake too
    QVERIFY(silent->open(m_daemon->socket()));

    Peer third;
    QVERIFY(third.open(m_daemon->socket()));
    QCOMPARE(third.waitFor(QStringLiteral("error")).value("error").toString(),
             QStringLiteral("too many clients"));
    QVERIFY(third.waitForClosed());

    // The ones served go on; once one leaves, there is room again.
    first.command(QStringLiteral("ping"));
    QVERIFY(!first.waitFor(QStringLiteral("pong")).isEmpty());
    silent.reset();
    // Turned away until the daemon has seen the silent one go. (Each try is a
    // new client, so the check must stop at the first success.)
    QVERIFY(QTest::qWaitFor(
        [&] {
            Peer next;
            if (!next.open(m_daemon->socket()))
                return false;
            next.sendRaw(Protocol::handshake(token));
            (void)QTest::qWaitFor([&] { return !next.events().isEmpty(); }, 10000);
            return !next.eventsOfType(QStringLiteral("ready")).isEmpty();
        },
        30000));
}

void TestDevDaemon::silentClientIsDroppedAfterTheHandshakeTimeout()
{
    QVERIFY(m_daemon->start({QStringLiteral("--handshake-timeout"), QStringLiteral("0.3")}));
    Peer silent;
    QVERIFY(silent.open(m_daemon->socket()));
    Peer prompt;
    QVERIFY(prompt.handshake(m_daemon->socket(), m_daemon->token()));

    QCOMPARE(silent.waitFor(QStringLiteral("error")).value("error").toString(),
             QStringLiteral("handshake timed out"));
    QVERIFY(silent.waitForClosed());
    // Accepted in time: no timeout applies any more.
    prompt.command(QStringLiteral("ping"));
    QVERIFY(!prompt.waitFor(QStringLiteral("pong")).isEmpty());
    QCOMPARE(prompt.socket().state(), QLocalSocket::ConnectedState);
}

// A client that asks and asks but never reads would make the daemon hold its
// answers without end.
void TestDevDaemon::clientThatDoesNotReadIsDropped()
{
    QVERIFY(m_daemon->start());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(fd >= 0);
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(m_daemon->socket());
    QVERIFY(size_t(path.size()) < sizeof address.sun_path);
    ::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    QCOMPARE(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);

    // Answers to these far exceed what the kernel and the daemon's limit hold.
    QByteArray flood = Protocol::handshake(m_daemon->token());
    for (int i = 0; i < 20000; ++i)
        flood += Protocol::command(QStringLiteral("status"));
    qsizetype sent = 0;
    while (sent < flood.size()) {
        const ssize_t n =
            ::send(fd, flood.constData() + sent, size_t(flood.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break; // dropped while still asking
        sent += n;
    }

    // Still not reading: the daemon hangs up on us.
    QVERIFY(QTest::qWaitFor(
        [&] {
            pollfd hangUp = {fd, POLLRDHUP, 0};
            return ::poll(&hangUp, 1, 0) > 0 &&
                   (hangUp.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        },
        20000));
    QCOMPARE(m_daemon->process()->state(), QProcess::Running);
    Peer next;
    QVERIFY(next.handshake(m_daemon->socket(), m_daemon->token()));
}

void TestDevDaemon::garbageAndBrokenClientsDoNoHarm()
{
    QVERIFY(m_daemon->start());
    const QString token = m_daemon->token();
    {
        Peer noisy; // accepted, then noise of every kind, then gone mid-line
        QVERIFY(noisy.handshake(m_daemon->socket(), token));
        noisy.sendRaw(QByteArray("\x00\xff\xfe{{{\n", 8));
        noisy.sendRaw("{\"cmd\":42}\n{\"cmd\":\"connect\",\"payload\":\"yes\"}\n\"text\"\n");
        noisy.sendRaw(QByteArray(3 * 1024 * 1024, 'x')); // no line end in sight
        noisy.sendRaw("\n{\"cmd\":\"ping\"}\n");
        QVERIFY(!noisy.waitFor(QStringLiteral("pong")).isEmpty());
        noisy.sendRaw("{\"cmd\":\"sta");
        noisy.socket().abort();
    }
    {
        Peer silent; // connects and leaves without a word
        QVERIFY(silent.open(m_daemon->socket()));
    }
    // Clients one after another are all served.
    for (int i = 0; i < 5; ++i) {
        Peer peer;
        QVERIFY2(peer.handshake(m_daemon->socket(), token), qPrintable(QString::number(i)));
        peer.command(QStringLiteral("ping"));
        QVERIFY(!peer.waitFor(QStringLiteral("pong")).isEmpty());
    }
    QCOMPARE(m_daemon->process()->state(), QProcess::Running);
    // The over-long line was dropped, not logged, and the half line never arrived.
    for (const QByteArray &line : m_daemon->loggedLines()) {
        QVERIFY(line.size() < 1024 * 1024);
        QVERIFY(!line.startsWith("{\"cmd\":\"sta"));
    }
}

void TestDevDaemon::scriptPlaysTimedEvents()
{
    const QString script = m_dir->path() + "/scenario.jsonl";
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# a daemon that runs into trouble\n"
               "{\"delay_ms\":50,\"event\":{\"type\":\"error\",\"error\":\"update server gone\"}}\n"
               "\n"
               "{\"delay_ms\":0,\"raw\":\"this is not JSON\"}\n"
               "{\"delay_ms\":100,\"event\":{\"type\":\"pong\",\"version\":\"scripted\"}}\n");
    file.close();
    QVERIFY(m_daemon->start({QStringLiteral("--script"), script}));

    Peer peer;
    QVERIFY(peer.handshake(m_daemon->socket(), m_daemon->token()));
    QCOMPARE(peer.waitFor(QStringLiteral("pong")).value("version").toString(),
             QStringLiteral("scripted"));
    const QList<QJsonObject> events = peer.events();
    QCOMPARE(events.size(), 3); // ready, error, pong: the raw line is no object
    QCOMPARE(events.at(1).value("error").toString(), QStringLiteral("update server gone"));
}

void TestDevDaemon::badScriptStopsTheStart()
{
    const QString script = m_dir->path() + "/broken.jsonl";
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        "{\"delay_ms\":10,\"event\":{\"type\":\"pong\"}}\n{\"event\":{\"type\":\"pong\"}}\n");
    file.close();
    QVERIFY(!m_daemon->start({QStringLiteral("--script"), script}));
    QVERIFY(m_daemon->waitForExit());
    QCOMPARE(m_daemon->process()->exitCode(), 1);
    QVERIFY(m_daemon->process()->readAllStandardError().contains("broken.jsonl:2:"));
}

void TestDevDaemon::realPipeClientSignsInAndConnects()
{
    QVERIFY(m_daemon->start({QStringLiteral("--auto-login"), QStringLiteral("0.2"),
                             QStringLiteral("--connect-delay"), QStringLiteral("0.3")}));
    qputenv("KESTRIX_PIPE", m_daemon->socket().toUtf8());
    qputenv("PROGRAMDATA", m_daemon->programData().toUtf8());
    PipeClient client;
    QSignalSpy opened(&client, &PipeClient::browserOpened);
    client.connectToPipe();
    QTRY_COMPARE_WITH_TIMEOUT(client.status(), QStringLiteral("ready — daemon v1.0.0-dev"), 15000);
    client.sendLoginStart();
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 15000);
    QVERIFY(opened.at(0).at(0).toString().startsWith("http://127.0.0.1:"));
    QTRY_VERIFY_WITH_TIMEOUT(client.authenticated(), 15000);

    // Every state the client takes, as it takes it: a loaded machine may
    // hand it "connecting" and "connected" in one read, too quick to poll.
    QStringList states;
    connect(&client, &PipeClient::vpnStateChanged, this, [&] {
        if (states.isEmpty() || states.constLast() != client.vpnState())
            states << client.vpnState();
    });
    client.sendConnect(false, true);
    QTRY_COMPARE_WITH_TIMEOUT(client.vpnState(), QStringLiteral("connected"), 15000);
    QCOMPARE(states, (QStringList{"connecting", "connected"}));
    // The client's own poll brings counters in; its speeds follow them.
    QTRY_VERIFY_WITH_TIMEOUT(client.downSpeed() > 0 && client.upSpeed() > 0, 15000);
    QVERIFY(!client.vpnIp().isEmpty());
    QVERIFY(!client.connectedSince().isEmpty());

    client.sendShutdown();
    QVERIFY(m_daemon->waitForExit());
    // The daemon's exit and the client seeing its pipe close are two events.
    QTRY_COMPARE(client.vpnState(), QStringLiteral("disconnected"));
    QVERIFY(m_daemon->loggedLines().contains(R"({"cmd":"shutdown"})"));
}

QTEST_GUILESS_MAIN(TestDevDaemon)
#include "tst_devdaemon.moc"
