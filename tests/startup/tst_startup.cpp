#include "appenvironment.h"
#include "fakedaemon.h"
#include "helperprocess.h"
#include "testmain.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

// The real binary's start-up: single instance, window or not, and the delay
// before the first word to the daemon. Runs under an X server with a system
// tray (kestrix_with_desktop --tray), so the window can be seen from outside with
// xdotool.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void windowAtStart_data();
    void windowAtStart();
    void secondStartShowsFirstAndExitsZero();
    void trayStartLoadsNoGraphicsUntilShown();
    void nothingReachesDaemonBefore200ms();

private:
    QProcess *start(const QStringList &args, const QString &platform = QStringLiteral("xcb"));
    std::optional<bool> hasVisibleWindow(qint64 pid);
    QString singleInstanceSocket() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeDaemon> m_daemon;
    QString m_binary;
    QString m_pipe; // where the app looks for the daemon
    bool m_haveXdotool = false;
    QList<QProcess *> m_processes;
};

namespace {

// Generous: a loaded two-core machine may take seconds to load the interface.
constexpr int kStartTimeoutMs = 30000;

const QByteArray kHandshakeWithoutToken = R"({"magic":"KESTRIX_IPC","token":"","version":1})";

} // namespace

void TestStartup::initTestCase()
{
    m_haveXdotool = !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
}

void TestStartup::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_binary = privateAppCopy(QStringLiteral(KESTRIX_BINARY), m_dir->path());
    QVERIFY2(!m_binary.isEmpty(), "could not copy the binary");
    // The daemon's end: the handshake is the first thing the app sends, 200 ms
    // after its event loop started, so after the window was shown or not.
    m_daemon = std::make_unique<FakeDaemon>();
    QVERIFY(m_daemon->listen());
    m_pipe = m_daemon->path();
}

void TestStartup::cleanup()
{
    // Whatever a start wrote to its error output is a fault nobody looked at.
    // (The offscreen platform's own note about the tray is not the app's.)
    QStringList errors;
    for (QProcess *p : std::as_const(m_processes)) {
        const QString output = QString::fromLocal8Bit(p->readAllStandardError());
        for (const QString &line : output.split(u'\n', Qt::SkipEmptyParts)) {
            if (!KestrixTest::isPlatformNoise(line))
                errors << line;
        }
    }
    if (!QTest::currentTestFailed() && !errors.isEmpty())
        QTest::qFail(
            qPrintable(QStringLiteral("kestrix wrote to its error output:\n") + errors.join(u'\n')),
            __FILE__, __LINE__);
    for (QProcess *p : std::as_const(m_processes)) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(3000);
        }
        delete p;
    }
    m_processes.clear();
    m_daemon.reset();
    m_dir.reset();
}

QProcess *TestStartup::start(const QStringList &args, const QString &platform)
{
    QProcessEnvironment env = isolatedAppEnvironment(m_dir->path());
    env.insert("QT_QPA_PLATFORM", platform);
    env.insert("KESTRIX_PIPE", m_pipe);
    auto *p = new QProcess;
    p->setProcessEnvironment(env);
    p->setStandardOutputFile(QProcess::nullDevice());
    dieWithTest(*p);
    p->start(m_binary, args);
    m_processes << p;
    return p;
}

// Whether the process shows a window; nothing when xdotool could not tell.
std::optional<bool> TestStartup::hasVisibleWindow(qint64 pid)
{
    QProcess xdotool;
    xdotool.start("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)});
    if (!xdotool.waitForFinished(10000) || xdotool.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    // 0: found, 1: none found; anything else is a failure of its own.
    if (xdotool.exitCode() > 1)
        return std::nullopt;
    // The icon docked in the tray is a small window of the process too.
    for (const QByteArray &id : xdotool.readAllStandardOutput().split('\n')) {
        if (id.trimmed().isEmpty())
            continue;
        QProcess geometry;
        geometry.start("xdotool",
                       {"getwindowgeometry", "--shell", QString::fromLatin1(id.trimmed())});
        geometry.waitForFinished(5000);
        for (const QByteArray &line : geometry.readAllStandardOutput().split('\n'))
            if (line.startsWith("WIDTH=") && line.mid(6).toInt() > 64)
                return true;
    }
    return false;
}

QString TestStartup::singleInstanceSocket() const
{
    return m_dir->path() + "/runtime/kestrix-ui-single";
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
    // Without it no window can be seen, and "no window" would pass for nothing.
    if (!m_haveXdotool)
        QSKIP("xdotool is not installed (tools/install-deps installs it)");

    QProcess *app = start(args);
    QVERIFY(app->waitForStarted());
    // The window step is done (and its requests are with the X server) once
    // the handshake has come.
    QVERIFY2(m_daemon->waitForLines(1, kStartTimeoutMs), "no handshake from the app");
    QCOMPARE(m_daemon->lines().constFirst(), kHandshakeWithoutToken);
    if (window) {
        QTRY_VERIFY_WITH_TIMEOUT(hasVisibleWindow(app->processId()).value_or(false),
                                 kStartTimeoutMs);
    } else {
        const std::optional<bool> shown = hasVisibleWindow(app->processId());
        QVERIFY2(shown.has_value(), "xdotool could not look for windows");
        QVERIFY2(!*shown, "a window was shown");
    }
    QCOMPARE(app->state(), QProcess::Running);
}

void TestStartup::secondStartShowsFirstAndExitsZero()
{
    // Without it no window can be seen, and "no window" would pass for nothing.
    if (!m_haveXdotool)
        QSKIP("xdotool is not installed (tools/install-deps installs it)");
    QProcess *first = start({"--minimized"});
    QVERIFY(first->waitForStarted());
    QVERIFY2(m_daemon->waitForLines(1, kStartTimeoutMs), "no handshake from the first start");
    const std::optional<bool> shownAtFirst = hasVisibleWindow(first->processId());
    QVERIFY2(shownAtFirst.has_value(), "xdotool could not look for windows");
    QVERIFY2(!*shownAtFirst, "the first start showed a window");

    // Even a second start with --minimized hands over and shows the first.
    QProcess *second = start({"--minimized"});
    QVERIFY(second->waitForFinished(kStartTimeoutMs));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(hasVisibleWindow(first->processId()).value_or(false), kStartTimeoutMs);
    QCOMPARE(first->state(), QProcess::Running);
    // The second process never spoke to the daemon.
    QCOMPARE(m_daemon->connections(), 1);
}

namespace {

// The GL driver, LLVM and the shader compiler a process has mapped.
QStringList graphicsLibraries(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("(maps unreadable)")};
    QStringList found;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QString path = QString::fromLocal8Bit(line.mid(line.indexOf('/')));
        for (const char *library : {"/dri/", "libLLVM", "libgallium", "ShaderTools", "glslang"})
            if (line.contains('/') && path.contains(QLatin1String(library)) &&
                !found.contains(path))
                found << path;
    }
    return found;
}

} // namespace

void TestStartup::trayStartLoadsNoGraphicsUntilShown()
{
    if (!m_haveXdotool)
        QSKIP("xdotool is not installed (tools/install-deps installs it)");
    if (qEnvironmentVariableIsEmpty("KESTRIX_EXPECT_TRAY"))
        QSKIP("needs a system tray: without one --minimized shows a minimised window");
    QProcess *app = start({"--minimized"});
    QVERIFY(app->waitForStarted());
    QVERIFY2(m_daemon->waitForLines(1, kStartTimeoutMs), "no handshake from the app");
    // Started and talking to the daemon, the window and its scene graph not made.
    const QStringList early = graphicsLibraries(app->processId());
    QVERIFY2(early.isEmpty(),
             qPrintable(QStringLiteral("mapped before the window was shown: ") + early.join(u' ')));

    // Made on the first request to see it.
    QProcess *second = start({});
    QVERIFY(second->waitForFinished(kStartTimeoutMs));
    QCOMPARE(second->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(hasVisibleWindow(app->processId()).value_or(false), kStartTimeoutMs);
    QCOMPARE(app->state(), QProcess::Running);
    // What the window then loads shows the check above could have seen it.
    if (graphicsLibraries(app->processId()).isEmpty())
        qInfo("this display draws without a GL driver; the check before showing proves less");
}

void TestStartup::nothingReachesDaemonBefore200ms()
{
    // Both moments on the system clock: the socket's creation as the file
    // system recorded it (start-up reached its running phase; the event loop
    // starts after), and the daemon's end seeing the connection (never early).
    QDateTime connectedAt;
    QLocalServer daemon;
    const QString socket = m_dir->path() + "/early.sock";
    QVERIFY(daemon.listen(socket));
    QByteArray received;
    connect(&daemon, &QLocalServer::newConnection, this, [&] {
        if (connectedAt.isNull())
            connectedAt = QDateTime::currentDateTimeUtc();
        QLocalSocket *peer = daemon.nextPendingConnection();
        connect(peer, &QLocalSocket::readyRead, this,
                [&received, peer] { received += peer->readAll(); });
    });

    m_pipe = socket;
    QProcess *app = start({"--minimized"}, QStringLiteral("offscreen"));
    QVERIFY(app->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(received.endsWith('\n'), kStartTimeoutMs);

    const QFileInfo single(singleInstanceSocket());
    QVERIFY2(single.exists(), "the app never reached its running phase");
    QDateTime runningAt = single.fileTime(QFile::FileBirthTime);
    if (!runningAt.isValid())
        runningAt = single.fileTime(QFile::FileMetadataChangeTime);
    QVERIFY(runningAt.isValid());
    const qint64 after = runningAt.msecsTo(connectedAt);
    QVERIFY2(after >= 200, qPrintable(QStringLiteral("first connection %1 ms after the app was "
                                                     "running")
                                          .arg(after)));
    QCOMPARE(received, kHandshakeWithoutToken + '\n');
}

KESTRIX_TEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
