#include "e2esession.h"
#include "settings/palette.h"

#include <QtTest>

#include "testmain.h"

// The road of one request, from the click on the dial to the moving counters,
// and a connect that fails and is tried again.
class TestE2eConnect : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void roadOfOneRequest();
    void failedConnectShowsErrorScreenThenTryAgain();

private:
    // The main screen has two "Connect" buttons: the round dial, and the
    // wide button below the tiles.
    enum ConnectButton
    {
        Dial,
        ActionButton
    };
    bool clickConnect(ConnectButton which);

    std::unique_ptr<E2eSession> m_session;
};

static const QString kButton = QStringLiteral("push button");
static const QByteArray kConnect =
    "{\"cmd\":\"connect\",\"payload\":{\"games\":false,\"whitelist\":false}}";

static QColor dark(Palette::Role role)
{
    return Palette::color(role, true);
}

void TestE2eConnect::init()
{
    E2E_START_DESKTOP(m_session);
    E2E_REQUIRE_CONTROLS(m_session);
}

void TestE2eConnect::cleanup()
{
    m_session.reset();
}

bool TestE2eConnect::clickConnect(ConnectButton which)
{
    QList<QRect> found;
    if (!m_session->findControls(kButton, QStringLiteral("Connect"), &found))
        return false;
    for (const QRect &button : std::as_const(found)) {
        if ((button.width() == button.height()) == (which == Dial)) {
            m_session->click(button.center());
            return true;
        }
    }
    return false;
}

void TestE2eConnect::roadOfOneRequest()
{
    E2eSession &s = *m_session;
    // A slow tunnel, so the amber state can be seen: each look takes a full
    // screenshot, which a loaded machine may take a second or more to make.
    QVERIFY(s.startDaemon({"--auto-login", E2eSession::kAutoLoginSecs, "--connect-delay", "8"}));
    s.startApp();
    QVERIFY2(s.signIn(), s.failure());
    QVERIFY(s.daemonReceived("{\"cmd\":\"login_start\"}"));
    QVERIFY(E2eSession::near(s.mainPixel(Probe::kTitleDot), dark(Palette::Role::FgMuted)));

    QTRY_VERIFY_WITH_TIMEOUT(s.showsIdleDial(), 10000);
    s.clearSeenOtherWindows();
    QVERIFY2(clickConnect(Dial), s.failure());
    QTRY_VERIFY_WITH_TIMEOUT(s.daemonReceived(kConnect), 10000);
    QCOMPARE(s.daemonLog().count(kConnect), 1);

    // Amber while connecting, in the title bar and on the tray icon at once
    // (one screenshot); no balloon. Then green in both places.
    const QRect main = s.mainWindow().rect;
    // The icon may still be settling into the tray (an X11 tray beside a
    // session bus waits a moment for a StatusNotifierItem host).
    const QRect tray = s.waitForTrayIcon().rect;
    QVERIFY(!tray.isEmpty());
    const auto dotsAre = [&](const QColor &title, const QColor &icon) {
        s.appWindows(); // notes any balloon on the way
        const QImage shot = s.screenshot();
        return E2eSession::near(shot.pixelColor(main.topLeft() + Probe::kTitleDot), title) &&
               E2eSession::countNear(shot, tray, icon) >= 8;
    };
    QTRY_VERIFY_WITH_TIMEOUT(dotsAre(dark(Palette::Role::Warning), QColor("#F0A500")), 10000);
    const QList<E2eSession::Window> early = s.otherWindows();
    QVERIFY2(early.isEmpty(), E2eSession::describe(early).constData());
    QVERIFY(s.seenOtherWindows().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(dotsAre(dark(Palette::Role::Success), QColor("#2FBF71")), 20000);
    QCOMPARE(s.countNear(tray, QColor("#F0A500")), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!s.otherWindows().isEmpty() || !s.seenOtherWindows().isEmpty(), 10000);

    // Speeds and traffic move with the daemon's counters.
    const auto trafficText = [&] {
        const E2eSession::Window main = s.mainWindow();
        return s.screenshot().copy(Probe::kTrafficTiles.translated(main.rect.topLeft()));
    };
    const QImage before = trafficText();
    QVERIFY(!before.isNull());
    QTRY_VERIFY_WITH_TIMEOUT(trafficText() != before, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(s.otherWindows().isEmpty(), 15000); // the balloon has gone
    QCOMPARE(s.seenOtherWindows().size(), 1);
    QVERIFY(E2eSession::near(s.mainPixel(Probe::kTitleDot), dark(Palette::Role::Success)));
}

void TestE2eConnect::failedConnectShowsErrorScreenThenTryAgain()
{
    E2eSession &s = *m_session;
    QVERIFY(s.startDaemon({"--auto-login", E2eSession::kAutoLoginSecs, "--connect-delay", "0.3",
                           "--fail-connect", "Blocked (e2e)", "--fail-count", "1"}));
    s.startApp();
    QVERIFY2(s.signIn(), s.failure());
    QTRY_VERIFY_WITH_TIMEOUT(s.showsIdleDial(), 10000);
    QVERIFY2(clickConnect(ActionButton), s.failure());

    // The error screen: its red warning sign and its try-again button below.
    const QColor danger = dark(Palette::Role::Danger);
    QTRY_VERIFY_WITH_TIMEOUT(E2eSession::near(s.mainPixel(Probe::kTitleDot), danger), 10000);
    // Read from one screenshot: the sign's top, the button's top, and the
    // number of text lines between the title and the button. The daemon's
    // short text takes one line; the default explanation two.
    // The button is drawn a little lighter while the pointer is over it.
    const QColor accent = dark(Palette::Role::Accent);
    const QColor hovered = accent.lighter(110);
    int sign = -1;
    int button = -1;
    int detailLines = 0;
    const auto readErrorScreen = [&] {
        const QImage shot = s.screenshot();
        const QPoint origin = s.mainWindow().rect.topLeft();
        const auto at = [&](int x, int y) { return shot.pixelColor(origin + QPoint(x, y)); };
        sign = button = -1;
        for (int y = 60; y < 600 && sign < 0; ++y) {
            if (E2eSession::near(at(200, y), danger))
                sign = y;
        }
        for (int y = sign + 90; sign > 0 && y < 600 && button < 0; ++y) {
            if (E2eSession::near(at(200, y), accent) || E2eSession::near(at(200, y), hovered))
                button = y;
        }
        detailLines = 0;
        bool inLine = false;
        // Below the sign (84 px) and the title under it, down to the button.
        for (int y = sign + 128; button > 0 && y < button; ++y) {
            bool text = false;
            for (int x = 24; x < 376 && !text; ++x)
                text = !E2eSession::near(at(x, y), dark(Palette::Role::Bg), 40);
            detailLines += text && !inLine;
            inLine = text;
        }
        return sign > 0 && button > 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(readErrorScreen(), 10000);
    QCOMPARE(detailLines, 1);
    QVERIFY(s.countNear(s.waitForTrayIcon().rect, QColor("#E5484D")) >= 8);

    QVERIFY2(s.clickControl(kButton, QStringLiteral("Try again")), s.failure());
    QTRY_COMPARE_WITH_TIMEOUT(s.daemonLog().count(kConnect), 2, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(
        E2eSession::near(s.mainPixel(Probe::kTitleDot), dark(Palette::Role::Success)), 10000);
    // The main screen is back, its dial green, and no warning sign above it.
    QTRY_VERIFY_WITH_TIMEOUT(s.findInColumn(200, 60, 400, dark(Palette::Role::Success)) > 0, 10000);
    QCOMPARE(s.findInColumn(200, 60, 400, danger), -1);
}

KESTRIX_TEST_MAIN(TestE2eConnect)
#include "tst_e2e_connect.moc"
