#include "e2esession.h"
#include "settings/palette.h"

#include <QtTest>

#include "testmain.h"

// Start-up as a person sees it: the tray icon with its grey dot, the window
// on the login screen, --minimized, and a second start.
class TestE2eStart : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void trayIconGreyAndLoginScreen();
    void minimizedThenSecondStartShowsWindow();

private:
    std::unique_ptr<E2eSession> m_session;
};

void TestE2eStart::init()
{
    E2E_START_DESKTOP(m_session);
    QVERIFY(m_session->startDaemon());
}

void TestE2eStart::cleanup()
{
    m_session.reset();
}

// What the interface asks for once the daemon said "ready".
static const QByteArray kStatusQuery = "{\"cmd\":\"status\"}";

static QColor dark(Palette::Role role)
{
    return Palette::color(role, true);
}

void TestE2eStart::trayIconGreyAndLoginScreen()
{
    E2eSession &s = *m_session;
    s.startApp();
    const QRect icon = s.waitForTrayIcon().rect;
    QVERIFY2(!icon.isEmpty(), "no icon settled in the tray");
    // The grey dot, and no other state's colour, on the docked icon.
    const QColor grey("#8A93A3");
    QTRY_VERIFY_WITH_TIMEOUT(s.countNear(icon, grey) >= 8, 10000);
    QCOMPARE(s.countNear(icon, QColor("#2FBF71")), 0);
    QCOMPARE(s.countNear(icon, QColor("#F0A500")), 0);

    QTRY_VERIFY_WITH_TIMEOUT(s.mainWindow().id, 20000);
    // It talks to the daemon: handshake with the daemon's token, then a status query.
    QTRY_VERIFY_WITH_TIMEOUT(s.daemonReceived(kStatusQuery), 10000);
    QVERIFY(s.daemonLog().constFirst().startsWith("{\"magic\":\"KESTRIX_IPC\",\"token\":\""));

    // The login screen: its language selector with "EN" chosen, no settings
    // button in the title bar, and the grey title-bar dot.
    QTRY_VERIFY_WITH_TIMEOUT(
        E2eSession::near(s.mainPixel(Probe::kLanguageEn), dark(Palette::Role::Accent)), 10000);
    QVERIFY(!s.showsSignedIn());
    QVERIFY(E2eSession::near(s.mainPixel(Probe::kTitleDot), dark(Palette::Role::FgMuted)));
    QVERIFY(s.openedUrls().isEmpty());
}

void TestE2eStart::minimizedThenSecondStartShowsWindow()
{
    E2eSession &s = *m_session;
    QProcess *first = s.startApp({QStringLiteral("--minimized")});
    QVERIFY2(s.waitForTrayIcon().id, "no icon settled in the tray");
    // Fully up: the first words to the daemon go out 200 ms after the event
    // loop started, long after a window would have been shown.
    QTRY_VERIFY_WITH_TIMEOUT(s.daemonReceived(kStatusQuery), 10000);
    QCOMPARE(s.mainWindow().id, 0ull);
    QVERIFY2(s.lastLookWorked(), "xdotool could not look for windows");

    QProcess second;
    second.setProcessEnvironment(first->processEnvironment());
    second.start(first->program(), {});
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    QTRY_VERIFY_WITH_TIMEOUT(s.mainWindow().id, 10000);
    QCOMPARE(first->state(), QProcess::Running);
    // The second process never spoke to the daemon: one handshake in all.
    int handshakes = 0;
    for (const QByteArray &line : s.daemonLog())
        handshakes += line.startsWith("{\"magic\"");
    QCOMPARE(handshakes, 1);
}

KESTRIX_TEST_MAIN(TestE2eStart)
#include "tst_e2e_start.moc"
