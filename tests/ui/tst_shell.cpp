#include "uifixture.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QWindow>

// The main window shell: which screen shows, when a screen is re-created,
// the title bar, and how the window hides and shows.
class TestShell : public QObject
{
    Q_OBJECT

private slots:
    void routing_data();
    void routing();
    void backFromSettingsShowsErrorWhileFailed();
    void sameScreenKeepsInstanceAndDoesNotFade();
    void logOutFromSettingsReturnsChoiceToMain();
    void signOutElsewhereKeepsSettingsChoice();
    void titleBar_data();
    void titleBar();
    void toggleWindow_data();
    void toggleWindow();
    void closeRequestsHide_data();
    void closeRequestsHide();
    void closeWithoutTrayQuits_data();
    void closeWithoutTrayQuits();
    void trayGoneWhileHiddenShowsMinimised();
    void trayComingTakesBackWindowMinimisedForIt();
    void trayComingTakesBackWindowTheManagerLeftShown();
    void fixedSize();
    void trayRequestsOpenAndHidePopup();
    void screensFollowStateWhileHidden();
    void fontFallsBackQuietly();
};

void TestShell::routing_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QString>("expected");

    QTest::newRow("signed out") << false << "main" << QByteArray("disconnected") << "loginScreen";
    QTest::newRow("signed out beats settings and failed")
        << false << "settings" << QByteArray("failed") << "loginScreen";
    QTest::newRow("settings beats failed")
        << true << "settings" << QByteArray("failed") << "settingsScreen";
    QTest::newRow("settings while connected")
        << true << "settings" << QByteArray("connected") << "settingsScreen";
    QTest::newRow("failed") << true << "main" << QByteArray("failed") << "errorScreen";
    QTest::newRow("failed is case-sensitive")
        << true << "main" << QByteArray("FAILED") << "mainScreen";
    QTest::newRow("connected") << true << "main" << QByteArray("connected") << "mainScreen";
    QTest::newRow("disconnected") << true << "main" << QByteArray("disconnected") << "mainScreen";
}

void TestShell::routing()
{
    QFETCH(bool, signedIn);
    QFETCH(QString, choice);
    QFETCH(QByteArray, state);
    QFETCH(QString, expected);

    UiShell ui;
    QVERIFY(ui.start(signedIn));
    ui.window->setProperty("screen", choice);
    const QByteArray auth = signedIn ? "true" : "false";
    QVERIFY(ui.deliver("{\"type\":\"status\",\"authenticated\":" + auth + ",\"status\":\"" + state +
                       "\"}"));

    QCOMPARE(ui.screenName(), expected);
    // The screen fills the content area, which sits under the 44 px title bar.
    QQuickItem *screen = ui.screenItem();
    QCOMPARE(screen->width(), 378.0);
    QCOMPARE(screen->height(), 598.0 - 44.0);
}

void TestShell::backFromSettingsShowsErrorWhileFailed()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(UiShell::status("failed")));
    QCOMPARE(ui.screenName(), QStringLiteral("errorScreen"));

    QQuickItem *settingsButton = ui.item(QStringLiteral("settingsButton"));
    ui.click(settingsButton);
    QTRY_COMPARE(ui.screenName(), QStringLiteral("settingsScreen"));
    QCOMPARE(settingsButton->property("symbol").toString(), QStringLiteral("←"));

    ui.click(settingsButton);
    QTRY_COMPARE(ui.screenName(), QStringLiteral("errorScreen"));
    QCOMPARE(ui.window->property("screen").toString(), QStringLiteral("main"));
    QCOMPARE(settingsButton->property("symbol").toString(), QStringLiteral("⚙"));
}

void TestShell::sameScreenKeepsInstanceAndDoesNotFade()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.deliver(UiShell::status("connecting")));
    QQuickItem *content = ui.item(QStringLiteral("content"));
    QObject *fade = content->findChild<QObject *>(QStringLiteral("fade"));
    QVERIFY(fade);
    QTRY_VERIFY(!fade->property("running").toBool());
    QCOMPARE(content->opacity(), 1.0);

    QPointer<QQuickItem> before = ui.screenItem();
    QSignalSpy loaded(content, SIGNAL(loaded()));
    QSignalSpy fadeStarted(fade, SIGNAL(started()));

    QVERIFY(ui.deliver(UiShell::status("connected")));
    QVERIFY(ui.deliver(UiShell::status("reconnecting", ",\"attempt\":2")));
    QVERIFY(ui.deliver(UiShell::status("disconnected")));
    QCOMPARE(ui.screenItem(), before.data());
    QCOMPARE(loaded.count(), 0);
    QCOMPARE(fadeStarted.count(), 0);
    QCOMPARE(content->opacity(), 1.0);

    // A different screen is a new instance that fades in.
    QVERIFY(ui.deliver(UiShell::status("failed")));
    QCOMPARE(ui.screenName(), QStringLiteral("errorScreen"));
    QVERIFY(before.isNull());
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(fadeStarted.count(), 1);
}

void TestShell::logOutFromSettingsReturnsChoiceToMain()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    ui.window->setProperty("screen", QStringLiteral("settings"));
    QCOMPARE(ui.screenName(), QStringLiteral("settingsScreen"));

    // The log-out button is at the end of the scrolling column.
    QQuickItem *settings = ui.screenItem();
    settings->setProperty("contentY",
                          settings->property("contentHeight").toReal() - settings->height());
    ui.click(ui.item(QStringLiteral("logOutButton")));
    QVERIFY(ui.waitForCommand("{\"cmd\":\"logout\"}"));
    QCOMPARE(ui.window->property("screen").toString(), QStringLiteral("main"));

    QVERIFY(ui.deliver("{\"type\":\"logged_out\"}"));
    QCOMPARE(ui.screenName(), QStringLiteral("loginScreen"));
    QVERIFY(ui.deliver(UiShell::status("disconnected")));
    QCOMPARE(ui.screenName(), QStringLiteral("mainScreen"));
}

void TestShell::signOutElsewhereKeepsSettingsChoice()
{
    UiShell ui;
    QVERIFY(ui.start());
    ui.window->setProperty("screen", QStringLiteral("settings"));

    // The pipe dropping signs the user out until the daemon is back.
    ui.daemon.drop();
    QTRY_COMPARE(ui.screenName(), QStringLiteral("loginScreen"));
    QCOMPARE(ui.window->property("screen").toString(), QStringLiteral("settings"));

    QVERIFY(ui.daemon.waitForConnection(2));
    QVERIFY(ui.deliver(UiShell::status("disconnected")));
    QCOMPARE(ui.screenName(), QStringLiteral("settingsScreen"));
}

void TestShell::titleBar_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("updateAvailable");
    QTest::addColumn<bool>("buttonShown");
    QTest::addColumn<QString>("glyph");
    QTest::addColumn<QString>("glyphColor"); // a palette property
    QTest::addColumn<bool>("badgeShown");

    QTest::newRow("main") << true << "main" << false << true << "⚙"
                          << "fg" << false;
    QTest::newRow("main, update") << true << "main" << true << true << "⚙"
                                  << "accent" << true;
    QTest::newRow("settings") << true << "settings" << false << true << "←"
                              << "accent" << false;
    QTest::newRow("settings, update") << true << "settings" << true << true << "←"
                                      << "accent" << false;
    QTest::newRow("signed out") << false << "main" << false << false << "⚙"
                                << "fg" << false;
}

void TestShell::titleBar()
{
    QFETCH(bool, signedIn);
    QFETCH(QString, choice);
    QFETCH(bool, updateAvailable);
    QFETCH(bool, buttonShown);
    QFETCH(QString, glyph);
    QFETCH(QString, glyphColor);
    QFETCH(bool, badgeShown);

    UiShell ui;
    QVERIFY(ui.start(signedIn));
    QVERIFY(ui.show());
    ui.window->setProperty("screen", choice);
    if (updateAvailable)
        QVERIFY(ui.deliver("{\"type\":\"update_available\",\"update_version\":\"2.0.0\"}"));

    QQuickItem *button = ui.item(QStringLiteral("settingsButton"));
    QCOMPARE(UiShell::shown(button), buttonShown);
    QCOMPARE(button->property("symbol").toString(), glyph);
    QCOMPARE(button->property("glyphColor").value<QColor>(),
             ui.settings.property(glyphColor.toUtf8()).value<QColor>());
    QCOMPARE(UiShell::shown(ui.item(QStringLiteral("updateBadge"))), badgeShown);
    // Minimise and close are always there.
    QVERIFY(UiShell::shown(ui.item(QStringLiteral("minimizeButton"))));
    QVERIFY(UiShell::shown(ui.item(QStringLiteral("closeButton"))));
}

void TestShell::toggleWindow_data()
{
    QTest::addColumn<QString>("start");
    // How shortly before the click a window that lost the focus still counts
    // as active; -1 for the window's own.
    QTest::addColumn<int>("graceMs");
    QTest::addColumn<bool>("visibleAfter");

    QTest::newRow("hidden is shown") << "hidden" << -1 << true;
    QTest::newRow("visible and active is hidden") << "active" << -1 << false;
    QTest::newRow("behind another window is raised") << "behind" << 50 << true;
    // The panel took the focus with the click (Plasma, GNOME).
    QTest::newRow("focus just taken by the tray is hidden") << "behind" << 60000 << false;
    QTest::newRow("minimised is restored") << "minimised" << -1 << true;
    QTest::newRow("minimised just now is restored") << "minimised" << 60000 << true;
}

void TestShell::toggleWindow()
{
    QFETCH(QString, start);
    QFETCH(int, graceMs);
    QFETCH(bool, visibleAfter);

    UiShell ui;
    QVERIFY(ui.start());
    if (graceMs >= 0)
        ui.window->setProperty("trayFocusGraceMs", graceMs);
    QWindow other;
    other.resize(100, 100);
    if (start != QLatin1String("hidden")) {
        QVERIFY(ui.show());
        QVERIFY(QTest::qWaitForWindowActive(ui.window));
    }
    if (start == QLatin1String("minimised")) {
        ui.click(ui.item(QStringLiteral("minimizeButton")));
        QTRY_COMPARE(ui.window->visibility(), QWindow::Minimized);
    }
    // Another window takes the focus, as the window manager does on minimising.
    if (start == QLatin1String("behind") || start == QLatin1String("minimised")) {
        other.show();
        other.requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(ui.window->isVisible());
        QVERIFY(!ui.window->isActive());
    }
    if (graceMs >= 0 && graceMs < 1000)
        QTest::qWait(2 * graceMs); // long enough behind the other window

    QMetaObject::invokeMethod(ui.window, "toggleWindow");
    QTRY_COMPARE(ui.window->isVisible(), visibleAfter);
    if (visibleAfter) {
        QVERIFY(QTest::qWaitForWindowActive(ui.window));
        QCOMPARE(ui.window->visibility(), QWindow::Windowed);
    }
}

void TestShell::closeRequestsHide_data()
{
    QTest::addColumn<bool>("viaButton");
    QTest::newRow("platform close request") << false;
    QTest::newRow("close button") << true;
}

void TestShell::closeRequestsHide()
{
    QFETCH(bool, viaButton);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(UiShell::status("connected")));
    if (viaButton)
        ui.click(ui.item(QStringLiteral("closeButton")));
    else
        QVERIFY(!ui.window->close()); // refused
    QTRY_VERIFY(!ui.window->isVisible());

    // Hiding leaves the daemon alone: nothing but the status poll was sent.
    for (const QByteArray &line : ui.daemon.lines())
        QCOMPARE(line, QByteArray("{\"cmd\":\"status\"}"));
    QCOMPARE(ui.pipe.vpnState(), QStringLiteral("connected"));
    QMetaObject::invokeMethod(ui.window, "showAndRaise");
    QTRY_VERIFY(ui.window->isVisible());
}

void TestShell::closeWithoutTrayQuits_data()
{
    closeRequestsHide_data();
}

void TestShell::closeWithoutTrayQuits()
{
    QFETCH(bool, viaButton);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    ui.tray.setTrayProbe([] { return false; });
    QSignalSpy quit(&ui.tray, &TrayManager::quitRequested);
    if (viaButton)
        ui.click(ui.item(QStringLiteral("closeButton")));
    else
        QVERIFY(!ui.window->close()); // the quit decides, not the platform
    // The same request as the popup's Quit, which the shell turns into the
    // application's quit and its hook.
    QTRY_COMPARE(quit.count(), 1);
    QVERIFY(ui.window->isVisible());

    // A tray that comes back restores the old way.
    ui.tray.setTrayProbe([] { return true; });
    ui.click(ui.item(QStringLiteral("closeButton")));
    QTRY_VERIFY(!ui.window->isVisible());
    QCOMPARE(quit.count(), 1);
}

void TestShell::trayGoneWhileHiddenShowsMinimised()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(!ui.window->isVisible());
    ui.tray.setTrayProbe([] { return false; });
    QTRY_VERIFY(ui.window->isVisible());
    QCOMPARE(ui.window->visibility(), QWindow::Minimized);
}

// A tray that comes takes back a window that went to the taskbar for want
// of one, and leaves alone one that the user minimised or brought back.
void TestShell::trayComingTakesBackWindowMinimisedForIt()
{
    UiShell ui;
    QVERIFY(ui.start());
    ui.tray.setTrayProbe([] { return false; });
    QTRY_COMPARE(ui.window->visibility(), QWindow::Minimized);
    ui.tray.setTrayProbe([] { return true; });
    QTRY_VERIFY(!ui.window->isVisible());

    // Minimised by the user, with a tray all along: it stays on the taskbar.
    QVERIFY(ui.show());
    ui.window->showMinimized();
    ui.tray.setTrayProbe([] { return false; });
    ui.tray.setTrayProbe([] { return true; });
    QCOMPARE(ui.window->visibility(), QWindow::Minimized);
}

// A window manager that leaves the window shown (sway ignores minimising) or
// minimises it only later (Cinnamon): the window still goes into the tray
// that comes, unless the user asked for it meanwhile.
void TestShell::trayComingTakesBackWindowTheManagerLeftShown()
{
    UiShell ui;
    QVERIFY(ui.start());
    ui.tray.setTrayProbe([] { return false; });
    QTRY_VERIFY(ui.window->isVisible());
    ui.window->showNormal();
    QTRY_COMPARE(ui.window->visibility(), QWindow::Windowed);
    ui.tray.setTrayProbe([] { return true; });
    QTRY_VERIFY(!ui.window->isVisible());

    // Opened from somewhere before the tray came: it stays open.
    ui.tray.setTrayProbe([] { return false; });
    QTRY_VERIFY(ui.window->isVisible());
    QVERIFY(ui.show());
    ui.tray.setTrayProbe([] { return true; });
    QVERIFY(ui.window->isVisible());
    QCOMPARE(ui.window->visibility(), QWindow::Windowed);
}

// Tiling window managers float a window whose smallest and largest sizes are
// the same, and stretch any other over the screen.
void TestShell::fixedSize()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QCOMPARE(ui.window->size(), QSize(400, 620));
    QCOMPARE(ui.window->minimumSize(), QSize(400, 620));
    QCOMPARE(ui.window->maximumSize(), QSize(400, 620));
}

void TestShell::trayRequestsOpenAndHidePopup()
{
    UiShell ui;
    QVERIFY(ui.start());
    // Made on its first use, and opened by that use.
    QVERIFY(!ui.window->findChild<QQuickWindow *>(QStringLiteral("trayPopup")));
    emit ui.tray.popupRequested(600, 700);
    auto *popup = ui.window->findChild<QQuickWindow *>(QStringLiteral("trayPopup"));
    QVERIFY(popup);
    QTRY_VERIFY(popup->isVisible());
    emit ui.tray.popupRequested(600, 700);
    QTRY_VERIFY(!popup->isVisible());

    emit ui.tray.popupRequested(600, 700);
    QTRY_VERIFY(popup->isVisible());
    emit ui.tray.showRequested();
    QTRY_VERIFY(!popup->isVisible());
}

void TestShell::screensFollowStateWhileHidden()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QTRY_COMPARE(ui.screenName(), QStringLiteral("mainScreen"));

    ui.window->hide();
    QVERIFY(ui.deliver(UiShell::status("failed")));
    QTRY_COMPARE(ui.screenName(), QStringLiteral("errorScreen"));
}

void TestShell::fontFallsBackQuietly()
{
    UiShell ui;
    // The tray icon is made first: Qt's own asks the offscreen platform for
    // an X11-only signal, which is the platform's noise, not the interface's.
    ui.tray.setTrayProbe([] { return true; });
    // Loading and drawing every screen warns about nothing, fonts included.
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    QVERIFY(ui.start(false));
    const QString expected = QFontDatabase::families().contains(QStringLiteral("Segoe UI"))
                                 ? QStringLiteral("Segoe UI")
                                 : QGuiApplication::font().family();
    QCOMPARE(ui.window->property("fontFamily").toString(), expected);
    QCOMPARE(ui.item(QStringLiteral("loginTitle"))->property("font").value<QFont>().family(),
             expected);
    for (const QByteArray &state : {QByteArray("disconnected"), QByteArray("failed")}) {
        QVERIFY(ui.deliver(UiShell::status(state)));
        QVERIFY(!ui.window->grabWindow().isNull());
    }
    ui.window->setProperty("screen", QStringLiteral("settings"));
    QVERIFY(!ui.window->grabWindow().isNull());
}

KESTRIX_UI_TEST_MAIN(TestShell)

#include "tst_shell.moc"
