#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The real binary's start-up: single instance, window or not, and the delay
// before the first word to the daemon. Runs under an X server (xvfb-run), so
// the window can be seen from outside with xdotool.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowAtStart_data();
    void windowAtStart();
    void secondStartShowsFirstAndExitsZero();
    void nothingReachesDaemonBefore200ms();

private:
    QProcess *start(const QStringList &args, const QString &platform = QStringLiteral("xcb"));
    bool hasVisibleWindow(qint64 pid);
    bool waitForSingleInstanceServer();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_binary;
    QList<QProcess *> m_processes;
};

void TestStartup::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const QString root = m_dir->path();
    for (const char *sub : {"bin", "config", "runtime", "home"})
        QVERIFY(QDir(root).mkdir(sub));
    QFile::setPermissions(root + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // A copy of the binary alone in its folder, so no daemon is started beside it.
    m_binary = root + "/bin/kestrix";
    QVERIFY(QFile::copy(QStringLiteral(KESTRIX_BINARY), m_binary));
}

void TestStartup::cleanup()
{
    for (QProcess *p : std::as_const(m_processes)) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(3000);
        }
        delete p;
    }
    m_processes.clear();
    m_dir.reset();
}

QProcess *TestStartup::start(const QStringList &args, const QString &platform)
{
    const QString root = m_dir->path();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", platform);
    env.insert("XDG_RUNTIME_DIR", root + "/runtime");
    env.insert("XDG_CONFIG_HOME", root + "/config");
    env.insert("HOME", root + "/home");
    env.insert("KESTRIX_PIPE", root + "/daemon.sock");
    env.remove("PROGRAMDATA");
    auto *p = new QProcess;
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(m_binary, args);
    m_processes << p;
    return p;
}

bool TestStartup::hasVisibleWindow(qint64 pid)
{
    QProcess xdotool;
    xdotool.start("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)});
    xdotool.waitForFinished(5000);
    return !xdotool.readAllStandardOutput().trimmed().isEmpty();
}

bool TestStartup::waitForSingleInstanceServer()
{
    // Only look for the socket file: any connection to it means "show".
    const QString name = m_dir->path() + "/runtime/kestrix-ui-single";
    return QTest::qWaitFor([&] { return QFileInfo::exists(name); }, 15000);
}

void TestStartup::windowAtStart_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("window");

    QTest::newRow("plain") << QStringList{} << true;
    QTest::newRow("--minimized") << QStringList{"--minimized"} << false;
    QTest::newRow("--after-update") << QStringList{"--after-update"} << true;
    QTest::newRow("options are case-sensitive") << QStringList{"--Minimized"} << true;
    QTest::newRow("unknown options ignored") << QStringList{"--bogus", "--minimized"} << false;
}

void TestStartup::windowAtStart()
{
    QFETCH(QStringList, args);
    QFETCH(bool, window);

    QProcess *app = start(args);
    QVERIFY(app->waitForStarted());
    QVERIFY(waitForSingleInstanceServer()); // start-up has reached its running phase
    if (window) {
        QTRY_VERIFY_WITH_TIMEOUT(hasVisibleWindow(app->processId()), 15000);
    } else {
        QTest::qWait(1500); // give a wrongly shown window time to appear
        QVERIFY(!hasVisibleWindow(app->processId()));
    }
    QCOMPARE(app->state(), QProcess::Running);
}

void TestStartup::secondStartShowsFirstAndExitsZero()
{
    QProcess *first = start({"--minimized"});
    QVERIFY(first->waitForStarted());
    QVERIFY(waitForSingleInstanceServer());
    QVERIFY(!hasVisibleWindow(first->processId()));

    // Even a second start with --minimized hands over and shows the first.
    QProcess *second = start({"--minimized"});
    QVERIFY(second->waitForFinished(15000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(hasVisibleWindow(first->processId()), 15000);
    QCOMPARE(first->state(), QProcess::Running);
}

void TestStartup::nothingReachesDaemonBefore200ms()
{
    QLocalServer daemon;
    QVERIFY(daemon.listen(m_dir->path() + "/daemon.sock"));
    QElapsedTimer sinceStart;
    QByteArray received;
    qint64 connectedAfter = -1;
    connect(&daemon, &QLocalServer::newConnection, this, [&] {
        connectedAfter = sinceStart.elapsed();
        QLocalSocket *peer = daemon.nextPendingConnection();
        connect(peer, &QLocalSocket::readyRead, this,
                [&received, peer] { received += peer->readAll(); });
    });

    QProcess *app = start({"--minimized"}, QStringLiteral("offscreen"));
    sinceStart.start();
    QVERIFY(app->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(received.endsWith('\n'), 15000);
    // The event loop starts after the process does, so 200 ms after the
    // process started is the earliest allowed moment.
    QVERIFY2(connectedAfter >= 200, qPrintable(QString::number(connectedAfter)));
    QCOMPARE(received, QByteArray(R"({"magic":"KESTRIX_IPC","token":"","version":1})"
                                  "\n"));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
