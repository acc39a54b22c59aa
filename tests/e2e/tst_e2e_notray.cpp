#include "e2esession.h"

#include <QtTest>

#include "testmain.h"

// A desktop with no system tray (no trayer): the window is the application.
// Closing it quits the way the popup's Quit does, and --minimized leaves it
// minimised on the taskbar; with a tray both behave as before.
class TestE2eNoTray : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { m_session.reset(); }
    void closeButton_data();
    void closeButton();
    void minimizedStart_data();
    void minimizedStart();

private:
    // The daemon, and the app once it talks to it; false if either did not come.
    bool startDaemonAndApp(const QStringList &args);
    // "Iconic State", "Normal State" or nothing: the state the window asks
    // the window manager for.
    QByteArray requestedState(qulonglong window) const;

    std::unique_ptr<E2eSession> m_session;
};

namespace {

const QByteArray kStatusQuery = "{\"cmd\":\"status\"}";

} // namespace

bool TestE2eNoTray::startDaemonAndApp(const QStringList &args)
{
    if (!m_session->startDaemon())
        return false;
    m_session->startApp(args);
    // Fully up: the first words to the daemon go out after the window would be shown.
    return QTest::qWaitFor([&] { return m_session->daemonReceived(kStatusQuery); }, 20000);
}

QByteArray TestE2eNoTray::requestedState(qulonglong window) const
{
    QProcess xprop;
    xprop.setProcessEnvironment(m_session->app()->processEnvironment());
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-id"), QString::number(window), QStringLiteral("WM_HINTS")});
    if (!xprop.waitForFinished(10000))
        return {};
    const QByteArray out = xprop.readAllStandardOutput();
    const qsizetype at = out.indexOf("Initial state is ");
    if (at < 0)
        return {};
    const QByteArray state = out.mid(at + 17);
    return state.left(state.indexOf('.'));
}

void TestE2eNoTray::closeButton_data()
{
    QTest::addColumn<bool>("withTray");
    QTest::newRow("no tray: quits, and the quit hook asks the daemon to stop") << false;
    QTest::newRow("tray: hides, the app and the daemon run on") << true;
}

void TestE2eNoTray::closeButton()
{
    QFETCH(bool, withTray);

    E2E_START_DESKTOP_WITH_TRAY(m_session, withTray);
    E2E_REQUIRE_CONTROLS(m_session);
    QVERIFY2(startDaemonAndApp({}), "the app did not start talking to the daemon");
    E2eSession &s = *m_session;
    QTRY_VERIFY_WITH_TIMEOUT(s.mainWindow().id, 20000);
    // The title bar's "✕".
    QVERIFY2(s.clickControl(QStringLiteral("push button"), QStringLiteral("Close")), s.failure());
    if (withTray) {
        QTRY_COMPARE_WITH_TIMEOUT(s.mainWindow().id, 0ull, 10000);
        QTest::qWait(500);
        QCOMPARE(s.app()->state(), QProcess::Running);
        QVERIFY(!s.daemonReceived("{\"cmd\":\"shutdown\"}"));
    } else {
        QVERIFY(s.app()->waitForFinished(20000));
        QCOMPARE(s.app()->exitStatus(), QProcess::NormalExit);
        QCOMPARE(s.app()->exitCode(), 0);
        QVERIFY(s.daemonReceived("{\"cmd\":\"shutdown\"}"));
    }
}

void TestE2eNoTray::minimizedStart_data()
{
    QTest::addColumn<bool>("withTray");
    QTest::newRow("no tray: minimised on the taskbar") << false;
    QTest::newRow("tray: no window") << true;
}

void TestE2eNoTray::minimizedStart()
{
    QFETCH(bool, withTray);

    E2E_START_DESKTOP_WITH_TRAY(m_session, withTray);
    QVERIFY2(startDaemonAndApp({QStringLiteral("--minimized")}),
             "the app did not start talking to the daemon");
    E2eSession &s = *m_session;
    if (withTray) {
        QCOMPARE(s.mainWindow().id, 0ull);
    } else {
        // No window manager runs here to iconify it: the window is mapped,
        // asking to start iconic, as a taskbar would show it.
        QTRY_VERIFY_WITH_TIMEOUT(s.mainWindow().id, 10000);
        QCOMPARE(requestedState(s.mainWindow().id), QByteArray("Iconic State"));
    }

    // A second start still brings the window up, and restored.
    QProcess second;
    second.setProcessEnvironment(s.app()->processEnvironment());
    second.start(s.app()->program(), {});
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(s.mainWindow().id, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(requestedState(s.mainWindow().id) != "Iconic State", 10000);
    QCOMPARE(s.app()->state(), QProcess::Running);
}

KESTRIX_TEST_MAIN(TestE2eNoTray)
#include "tst_e2e_notray.moc"
