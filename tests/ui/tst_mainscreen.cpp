#include "sessionclock.h"
#include "uifixture.h"

#include <QDateTime>

// The main screen: what each VPN state shows and what the dial and the
// button send.
class TestMainScreen : public QObject
{
    Q_OBJECT

private slots:
    void states_data();
    void states();
    void serverTileShowsHost_data();
    void serverTileShowsHost();
    void tilesShowSessionFigures();
    void connectSendsPreferencesOfTheClick_data();
    void connectSendsPreferencesOfTheClick();
    void connectedClickDisconnects_data();
    void connectedClickDisconnects();
    void busyIgnoresClicks();
    void killSwitchBadge_data();
    void killSwitchBadge();
    void shieldComesBackWithItsBadge();
    void errorLine_data();
    void errorLine();
    void spinnerRepaintsOnThemeChange();
    void motionRestsWhileHidden_data();
    void motionRestsWhileHidden();

private:
    static QString text(UiShell &ui, const char *name)
    {
        return ui.item(QString::fromLatin1(name))->property("text").toString();
    }
    static QColor palette(UiShell &ui, const QString &name)
    {
        return ui.settings.property(name.toUtf8()).value<QColor>();
    }
};

void TestMainScreen::states_data()
{
    QTest::addColumn<QByteArray>("status"); // the "status" event
    QTest::addColumn<QString>("bigWord");
    QTest::addColumn<QString>("statusLine");
    QTest::addColumn<QString>("ring");
    QTest::addColumn<bool>("glow");
    QTest::addColumn<bool>("spinner");
    QTest::addColumn<bool>("grid");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<QString>("buttonFill");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("connected") << UiShell::status("connected") << "ON"
                               << "Protected"
                               << "success" << true << false << true << "Disconnect"
                               << "danger" << true;
    QTest::newRow("connecting") << UiShell::status("connecting") << "…"
                                << "Connecting…"
                                << "surfaceAlt" << false << true << false << "Please wait…"
                                << "accent" << false;
    QTest::newRow("reconnecting") << UiShell::status("reconnecting", ",\"attempt\":3") << "…"
                                  << "Reconnecting · #3"
                                  << "surfaceAlt" << false << true << false << "Please wait…"
                                  << "accent" << false;
    QTest::newRow("disconnected") << UiShell::status("disconnected") << "OFF"
                                  << "Not connected"
                                  << "surfaceAlt" << false << false << false << "Connect"
                                  << "accent" << true;
    QTest::newRow("unknown") << UiShell::status("sleeping") << "OFF"
                             << "Not connected"
                             << "surfaceAlt" << false << false << false << "Connect"
                             << "accent" << true;
    QTest::newRow("other case") << UiShell::status("Connected") << "OFF"
                                << "Not connected"
                                << "surfaceAlt" << false << false << false << "Connect"
                                << "accent" << true;
}

void TestMainScreen::states()
{
    QFETCH(QByteArray, status);
    QFETCH(QString, bigWord);
    QFETCH(QString, statusLine);
    QFETCH(QString, ring);
    QFETCH(bool, glow);
    QFETCH(bool, spinner);
    QFETCH(bool, grid);
    QFETCH(QString, buttonText);
    QFETCH(QString, buttonFill);
    QFETCH(bool, enabled);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(status));
    QCOMPARE(ui.screenName(), QStringLiteral("mainScreen"));

    QCOMPARE(text(ui, "bigWord"), bigWord);
    QCOMPARE(text(ui, "statusLine"), statusLine);
    QTRY_COMPARE(ui.item(QStringLiteral("ring"))
                     ->property("border")
                     .value<QObject *>()
                     ->property("color")
                     .value<QColor>(),
                 palette(ui, ring));
    QCOMPARE(UiShell::shown(ui.item(QStringLiteral("glow"))), glow);
    QCOMPARE(UiShell::shown(ui.item(QStringLiteral("spinner"))), spinner);
    QCOMPARE(UiShell::shown(ui.item(QStringLiteral("infoGrid"))), grid);

    QQuickItem *button = ui.item(QStringLiteral("actionButton"));
    QCOMPARE(button->property("text").toString(), buttonText);
    QCOMPARE(button->property("baseColor").value<QColor>(), palette(ui, buttonFill));
    QCOMPARE(button->isEnabled(), enabled);
    QCOMPARE(button->opacity(), enabled ? 1.0 : 0.5);
    QCOMPARE(ui.item(QStringLiteral("dialArea"))->property("enabled").toBool(), enabled);
}

void TestMainScreen::serverTileShowsHost_data()
{
    QTest::addColumn<QByteArray>("endpoint");
    QTest::addColumn<QString>("host");

    QTest::newRow("host and port") << QByteArray("203.0.113.7:443") << "203.0.113.7";
    QTest::newRow("name and port") << QByteArray("nl-2.vpn.example:51820") << "nl-2.vpn.example";
    QTest::newRow("no port") << QByteArray("203.0.113.7") << "203.0.113.7";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("bracketed IPv6 and port") << QByteArray("[2001:db8::7]:443") << "2001:db8::7";
    QTest::newRow("bare IPv6") << QByteArray("2001:db8::7") << "2001:db8::7";
}

void TestMainScreen::serverTileShowsHost()
{
    QFETCH(QByteArray, endpoint);
    QFETCH(QString, host);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.deliver(UiShell::status("connected", ",\"endpoint\":\"" + endpoint + "\"")));
    QQuickItem *server = ui.item(QStringLiteral("serverValue"));
    QCOMPARE(server->property("text").toString(), host);
    QCOMPARE(server->property("revealed").toBool(), false);
}

void TestMainScreen::tilesShowSessionFigures()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const QDateTime sinceTime = before.addSecs(-3600 - 5);
    const QByteArray since = sinceTime.toString(Qt::ISODate).toUtf8();
    QVERIFY(ui.deliver(UiShell::status(
        "connected", ",\"up\":1536,\"down\":1048576,\"connected_since\":\"" + since + "\"")));

    QCOMPARE(text(ui, "trafficValue"), QStringLiteral("↓ 1.00 MB  ↑ 1.50 KB"));
    QCOMPARE(text(ui, "speedValue"), QStringLiteral("↓ 0 KB/s  ↑ 0 KB/s"));
    // The clock starts when the state becomes connected and then ticks.
    QTRY_VERIFY2(text(ui, "sessionValue").startsWith(QLatin1String("1:0")),
                 qPrintable(text(ui, "sessionValue")));
    // As sent: whole seconds.
    const QString mismatch =
        sessionClockMismatch(text(ui, "sessionValue"),
                             QDateTime::fromString(QString::fromUtf8(since), Qt::ISODate), before);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void TestMainScreen::connectSendsPreferencesOfTheClick_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("whitelist");
    QTest::addColumn<bool>("games");
    QTest::addColumn<QByteArray>("command");

    auto connect = [](bool games, bool whitelist) {
        return QByteArray("{\"cmd\":\"connect\",\"payload\":{\"games\":") +
               (games ? "true" : "false") + ",\"whitelist\":" + (whitelist ? "true" : "false") +
               "}}";
    };
    QTest::newRow("button, whitelist") << "actionButton" << true << false << connect(false, true);
    QTest::newRow("button, games") << "actionButton" << false << true << connect(true, false);
    QTest::newRow("dial, both") << "dialArea" << true << true << connect(true, true);
    QTest::newRow("dial, neither") << "dialArea" << false << false << connect(false, false);
}

void TestMainScreen::connectSendsPreferencesOfTheClick()
{
    QFETCH(QString, target);
    QFETCH(bool, whitelist);
    QFETCH(bool, games);
    QFETCH(QByteArray, command);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    // The opposite first, so a value read before the click would be wrong.
    ui.settings.setWhitelist(!whitelist);
    ui.settings.setGames(!games);
    ui.settings.setWhitelist(whitelist);
    ui.settings.setGames(games);

    ui.click(ui.item(target));
    QVERIFY(ui.waitForCommand(command));
    QCOMPARE(ui.daemon.lines().size(), 1);
    // Nothing changes locally until the daemon reports.
    QCOMPARE(text(ui, "bigWord"), QStringLiteral("OFF"));
}

void TestMainScreen::connectedClickDisconnects_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("button") << "actionButton";
    QTest::newRow("dial") << "dialArea";
}

void TestMainScreen::connectedClickDisconnects()
{
    QFETCH(QString, target);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(UiShell::status("connected")));
    ui.click(ui.item(target));
    QVERIFY(ui.waitForCommand("{\"cmd\":\"disconnect\"}"));
}

void TestMainScreen::busyIgnoresClicks()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(UiShell::status("connecting")));
    ui.click(ui.item(QStringLiteral("dialArea")));
    ui.click(ui.item(QStringLiteral("actionButton")));
    // A ping sent after the clicks arrives after anything they sent.
    ui.pipe.sendPing();
    QVERIFY(ui.waitForCommand("{\"cmd\":\"ping\"}"));
    for (const QByteArray &line : ui.daemon.lines())
        QVERIFY2(line == "{\"cmd\":\"status\"}" || line == "{\"cmd\":\"ping\"}", line.constData());
    QCOMPARE(ui.item(QStringLiteral("dial"))->scale(), 1.0);
}

void TestMainScreen::killSwitchBadge_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("colour");

    QTest::newRow("never") << QByteArray("never") << false << ""
                           << "";
    QTest::newRow("on_connect") << QByteArray("on_connect") << true << "Kill switch: On"
                                << "border";
    QTest::newRow("always") << QByteArray("always") << true << "Kill switch: Always"
                            << "accent";
    QTest::newRow("unknown mode") << QByteArray("sometimes") << true << "Kill switch: On"
                                  << "border";
}

void TestMainScreen::killSwitchBadge()
{
    QFETCH(QByteArray, mode);
    QFETCH(bool, shown);
    QFETCH(QString, text);
    QFETCH(QString, colour);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(UiShell::status("disconnected", ",\"kill_switch_mode\":\"" + mode + "\"")));
    QQuickItem *badge = ui.item(QStringLiteral("killSwitchBadge"));
    QCOMPARE(UiShell::shown(badge), shown);
    // The shield is laid out only with its badge (it costs an emoji font).
    QCOMPARE(TestMainScreen::text(ui, "killSwitchShield"), shown ? QStringLiteral("🛡") : QString());
    if (!shown)
        return;
    QCOMPARE(TestMainScreen::text(ui, "killSwitchText"), text);
    QCOMPARE(badge->property("border").value<QObject *>()->property("color").value<QColor>(),
             palette(ui, colour));
}

void TestMainScreen::shieldComesBackWithItsBadge()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(UiShell::status("disconnected", ",\"kill_switch_mode\":\"never\"")));
    QCOMPARE(TestMainScreen::text(ui, "killSwitchShield"), QString());
    QVERIFY(ui.deliver(UiShell::status("disconnected", ",\"kill_switch_mode\":\"always\"")));
    QCOMPARE(TestMainScreen::text(ui, "killSwitchShield"), QStringLiteral("🛡"));
    // The badge is as wide as the shield, the words and its padding.
    QQuickItem *badge = ui.item(QStringLiteral("killSwitchBadge"));
    QQuickItem *shield = ui.item(QStringLiteral("killSwitchShield"));
    QQuickItem *words = ui.item(QStringLiteral("killSwitchText"));
    QVERIFY(shield->width() > 0);
    // The row lays itself out on the next polish.
    QTRY_COMPARE(badge->width(), shield->width() + 5 + words->width() + 24);
}

void TestMainScreen::errorLine_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<bool>("shown");

    QTest::newRow("idle with error")
        << QByteArray("disconnected") << QByteArray("handshake timed out") << true;
    QTest::newRow("idle without error") << QByteArray("disconnected") << QByteArray() << false;
    QTest::newRow("connecting") << QByteArray("connecting") << QByteArray("handshake timed out")
                                << false;
    QTest::newRow("reconnecting") << QByteArray("reconnecting") << QByteArray("handshake timed out")
                                  << false;
    QTest::newRow("connected") << QByteArray("connected") << QByteArray("handshake timed out")
                               << false;
}

void TestMainScreen::errorLine()
{
    QFETCH(QByteArray, state);
    QFETCH(QByteArray, error);
    QFETCH(bool, shown);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(UiShell::status(state, ",\"error\":\"" + error + "\"")));
    QQuickItem *line = ui.item(QStringLiteral("errorLine"));
    QCOMPARE(UiShell::shown(line), shown);
    QCOMPARE(line->property("text").toString(), QString::fromUtf8(error));
    QCOMPARE(line->property("textFormat").toInt(), int(Qt::PlainText));
}

void TestMainScreen::spinnerRepaintsOnThemeChange()
{
    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QQuickItem *spinner = ui.item(QStringLiteral("spinner"));
    QSignalSpy painted(spinner, SIGNAL(painted()));
    QVERIFY(ui.deliver(UiShell::status("connecting")));
    QTRY_VERIFY(painted.count() > 0);

    // Turning is a rotation of the finished drawing: no repaint while the
    // spinner turns, one when the theme changes its colour.
    painted.clear();
    QSignalSpy frames(ui.window, &QQuickWindow::frameSwapped);
    QTRY_VERIFY(frames.count() >= 10);
    QCOMPARE(painted.count(), 0);
    ui.settings.setDarkTheme(false);
    QVERIFY(painted.wait());
    QVERIFY(UiShell::shown(spinner));
}

void TestMainScreen::motionRestsWhileHidden_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QStringList>("moving");

    QTest::newRow("connected") << QByteArray("connected")
                               << QStringList{"sessionClock", "glowPulse"};
    QTest::newRow("connecting") << QByteArray("connecting") << QStringList{"spinnerTurn"};
}

void TestMainScreen::motionRestsWhileHidden()
{
    QFETCH(QByteArray, state);
    QFETCH(QStringList, moving);

    UiShell ui;
    QVERIFY(ui.start());
    QVERIFY(ui.show());
    QVERIFY(ui.deliver(UiShell::status(state)));
    auto running = [&](const QString &name) {
        QObject *animation = ui.screenItem()->findChild<QObject *>(name);
        return animation && animation->property("running").toBool();
    };
    for (const QString &name : moving)
        QVERIFY2(running(name), qPrintable(name));

    ui.window->hide();
    for (const QString &name : moving)
        QTRY_VERIFY2(!running(name), qPrintable(name));
    ui.window->showMinimized();
    QTRY_COMPARE(ui.window->visibility(), QWindow::Minimized);
    for (const QString &name : moving)
        QVERIFY2(!running(name), qPrintable(name));

    QMetaObject::invokeMethod(ui.window, "showAndRaise");
    for (const QString &name : moving)
        QTRY_VERIFY2(running(name), qPrintable(name));
}

KESTRIX_UI_TEST_MAIN(TestMainScreen)

#include "tst_mainscreen.moc"
