#include "e2esession.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QtTest>

#include "testmain.h"
#include "traywatcher.h"

#include <csignal>

// The app ended by the system rather than by its Quit: a logout (SIGHUP, then
// SIGTERM), a service manager (SIGTERM), Ctrl+C in a terminal (SIGINT). It
// goes the same orderly way as Quit, here in the middle of a sign-in, with
// its tray item on a panel's StatusNotifierWatcher.
class TestE2eSignals : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void endsInOrderDuringASignIn_data();
    void endsInOrderDuringASignIn();

private:
    std::unique_ptr<E2eSession> m_session;
};

namespace {

const QString kWatcherConnection = QStringLiteral("kestrix-test-panel");

const QByteArray kShutdown = R"({"cmd":"shutdown"})";
const QByteArray kLoginStart = R"({"cmd":"login_start"})";

} // namespace

void TestE2eSignals::init()
{
    E2E_START_DESKTOP(m_session);
    E2E_REQUIRE_CONTROLS(m_session);
}

void TestE2eSignals::cleanup()
{
    m_session.reset();
}

void TestE2eSignals::endsInOrderDuringASignIn_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("killSwitch");
    QTest::addColumn<bool>("shutdownSent"); // the quit hook's rule, as for Quit

    QTest::newRow("SIGTERM, kill switch never") << SIGTERM << "never" << true;
    QTest::newRow("SIGINT, kill switch always") << SIGINT << "always" << false;
    QTest::newRow("SIGHUP, kill switch on connect") << SIGHUP << "on_connect" << false;
}

void TestE2eSignals::endsInOrderDuringASignIn()
{
    QFETCH(int, signal);
    QFETCH(QString, killSwitch);
    QFETCH(bool, shutdownSent);

    E2eSession &s = *m_session;
    QVERIFY(!s.sessionBusAddress().isEmpty());
    QDBusConnection panel =
        QDBusConnection::connectToBus(s.sessionBusAddress(), kWatcherConnection);
    const auto disconnect =
        qScopeGuard([] { QDBusConnection::disconnectFromBus(kWatcherConnection); });
    TrayWatcher watcher;
    QVERIFY(panel.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                 QDBusConnection::ExportAllSlots |
                                     QDBusConnection::ExportAllSignals |
                                     QDBusConnection::ExportAllProperties));
    QVERIFY(panel.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));

    QVERIFY(s.setDaemonState(false, killSwitch));
    QVERIFY(s.startDaemon()); // no --auto-login: the sign-in stays open
    QProcess *app = s.startApp();
    QTRY_VERIFY_WITH_TIMEOUT(!watcher.items().isEmpty(), 20000);
    const QString item = watcher.items().constFirst();
    // Registered by its own name or by the connection's: either way, the app's.
    const QString itemOwner = item.section(u'/', 0, 0);
    QVERIFY(panel.interface()->isServiceRegistered(itemOwner));
    QTRY_VERIFY_WITH_TIMEOUT(s.showsLoginScreen(), 20000);
    QVERIFY2(s.clickControl(QStringLiteral("push button"), QStringLiteral("Sign in")), s.failure());
    QTRY_VERIFY_WITH_TIMEOUT(!s.openedUrls().isEmpty(), 20000);
    QVERIFY(s.daemonReceived(kLoginStart));
    QCOMPARE(app->state(), QProcess::Running);

    ::kill(pid_t(app->processId()), signal);

    // Safety net only: the quit takes well under a second.
    QVERIFY2(app->waitForFinished(10000), "the app did not end");
    // Nothing of the sign-in left behind in the private folder.
    const QStringList left = QDir(s.root() + QStringLiteral("/runtime"))
                                 .entryList({QStringLiteral("kestrix-signin-*")},
                                            QDir::AllEntries | QDir::Hidden | QDir::System);
    QCOMPARE(left, QStringList());
    QCOMPARE(s.daemonReceived(kShutdown), shutdownSent);
    QCOMPARE(app->exitStatus(), QProcess::NormalExit);
    QCOMPARE(app->exitCode(), 0);
    // The tray item went with it.
    QTRY_VERIFY_WITH_TIMEOUT(!panel.interface()->isServiceRegistered(itemOwner), 10000);
}

KESTRIX_TEST_MAIN(TestE2eSignals)
#include "tst_e2e_signals.moc"
