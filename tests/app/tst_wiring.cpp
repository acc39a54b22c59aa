#include "app/wiring.h"
#include "ipc/pipeclient.h"
#include "settings/appsettings.h"
#include "tray/traymanager.h"

#include "fakedaemon.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <QWindow>

#include <memory>

// Stands in for the QML root window: the two functions the shell calls by name.
class FakeRootWindow : public QObject
{
    Q_OBJECT
public:
    int shows = 0;
    int toggles = 0;
    Q_INVOKABLE void showAndRaise() { ++shows; }
    Q_INVOKABLE void toggleWindow() { ++toggles; }
    int hides = 0;
    Q_INVOKABLE void hide() { ++hides; }
};

namespace {

struct Balloon
{
    QString title;
    QString message;
};

// The core objects as main makes them, wired to each other, with the pipe
// client connected to a fake daemon and balloons recorded instead of shown.
struct WiredCore
{
    FakeDaemon daemon;
    QTemporaryDir socketDir;
    PipeClient pipe;
    TrayManager tray;
    AppSettings settings;
    FakeRootWindow root;
    QLocalServer singleInstance;
    std::unique_ptr<Wiring> wiring;
    QList<Balloon> balloons;
    int attempt = 0;

    // Without the interface, as a start in the tray runs until the window is wanted.
    bool start(bool withInterface = true)
    {
        if (!daemon.listen() || !singleInstance.listen(singleInstancePath()))
            return false;
        tray.setTrayProbe([] { return true; }); // an icon to look at, whatever the platform
        wiring = std::make_unique<Wiring>(*qApp, pipe, tray, settings);
        wiring->setNotifier([this](const QString &title, const QString &message) {
            balloons.append({title, message});
        });
        wiring->connectCore();
        if (withInterface)
            wiring->connectInterface(&root, &singleInstance);
        return daemon.connectClient(pipe);
    }

    QString singleInstancePath() const { return socketDir.path() + QStringLiteral("/single"); }

    // One "status" report. Each carries a new attempt number, so the client
    // signals every report even when the state repeats.
    bool report(const QString &state)
    {
        const int n = ++attempt;
        return daemon.send(
                   QJsonDocument(QJsonObject{{"type", "status"}, {"status", state}, {"attempt", n}})
                       .toJson(QJsonDocument::Compact)) &&
               QTest::qWaitFor([&] { return pipe.attempt() == n; }, 5000);
    }

    bool setKillSwitchMode(const QString &mode)
    {
        return daemon.send(
                   QJsonDocument(QJsonObject{{"type", "status"}, {"kill_switch_mode", mode}})
                       .toJson(QJsonDocument::Compact)) &&
               QTest::qWaitFor([&] { return pipe.killSwitchMode() == mode; }, 5000);
    }

    QStringList commands() const
    {
        QStringList cmds;
        for (const QByteArray &line : daemon.lines())
            cmds << QJsonDocument::fromJson(line).object().value("cmd").toString();
        return cmds;
    }
};

} // namespace

class TestWiring : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void notifications_data();
    void notifications();
    void attemptOnlyChangeNeitherRedrawsNorNotifies();
    void stateReachesTrayWithoutInterface();
    void languageSwitchReachesNextBalloon();
    void versionReachesTray();
    void connectReadsPreferencesWhenAsked();
    void windowRequests();
    void quitHook_data();
    void quitHook();
    void destroyedWiringLeavesObjectsApart();
    void unreachableNote_data();
    void unreachableNote();
    void trayClickTriesUnreachableDaemonAtOnce_data();
    void trayClickTriesUnreachableDaemonAtOnce();
    void trayMenuFollowsSignInAndLanguage();
    void trayMenuFollowsTheWindow();
};

void TestWiring::stateReachesTrayWithoutInterface()
{
    WiredCore core;
    QVERIFY(core.start(false));
    QVERIFY(core.report(QStringLiteral("connecting")));
    QCOMPARE(core.tray.vpnState(), QStringLiteral("connecting"));
    QVERIFY(core.report(QStringLiteral("connected")));
    QCOMPARE(core.tray.vpnState(), QStringLiteral("connected"));
    QCOMPARE(core.balloons.size(), 1);
    QCOMPARE(core.balloons.constFirst().message,
             core.settings.t().value("notifyConnected").toString());
}

void TestWiring::init()
{
    // The store is real and outlives each test: start every test from the defaults.
    AppSettings settings;
    settings.setLanguage(QStringLiteral("en"));
    settings.setWhitelist(false);
    settings.setGames(false);
}

void TestWiring::notifications_data()
{
    QTest::addColumn<QStringList>("states");
    QTest::addColumn<QStringList>("keys");

    QTest::newRow("reconnecting twice, then connected")
        << QStringList{"reconnecting", "reconnecting", "connected"}
        << QStringList{"notifyReconnecting", "notifyConnected"};
    QTest::newRow("disconnected right after start") << QStringList{"disconnected"} << QStringList{};
    QTest::newRow("tunnel already up at start")
        << QStringList{"connected"} << QStringList{"notifyConnected"};
    QTest::newRow("connecting is silent, failed is not")
        << QStringList{"connecting", "failed"} << QStringList{"notifyFailed"};
    QTest::newRow("connecting re-arms reconnecting")
        << QStringList{"reconnecting", "connecting", "reconnecting"}
        << QStringList{"notifyReconnecting", "notifyReconnecting"};
    QTest::newRow("connected again after a drop")
        << QStringList{"connected", "disconnected", "connected"}
        << QStringList{"notifyConnected", "notifyConnected"};
    QTest::newRow("failed twice") << QStringList{"failed", "failed"} << QStringList{"notifyFailed"};
    QTest::newRow("capitalised word is no state")
        << QStringList{"Connected", "Failed"} << QStringList{};
}

void TestWiring::notifications()
{
    QFETCH(QStringList, states);
    QFETCH(QStringList, keys);

    WiredCore core;
    QVERIFY(core.start());
    for (const QString &state : states)
        QVERIFY(core.report(state));

    QStringList messages;
    for (const QString &key : keys) {
        messages << core.settings.t().value(key).toString();
        QVERIFY2(!messages.constLast().isEmpty(), qPrintable(key));
    }
    QStringList shown;
    for (const Balloon &balloon : std::as_const(core.balloons)) {
        QCOMPARE(balloon.title, QStringLiteral("Kestrix"));
        shown << balloon.message;
    }
    QCOMPARE(shown, messages);
    QCOMPARE(core.wiring->lastNotifiedState(), states.constLast());
    QCOMPARE(core.tray.vpnState(), states.constLast());
}

void TestWiring::attemptOnlyChangeNeitherRedrawsNorNotifies()
{
    WiredCore core;
    QVERIFY(core.start());
    QVERIFY(core.report(QStringLiteral("reconnecting")));
    QCOMPARE(core.balloons.size(), 1);
    const qint64 icon = core.tray.trayIcon()->icon().cacheKey();
    const QString toolTip = core.tray.trayIcon()->toolTip();

    QSignalSpy stateSignals(&core.pipe, &PipeClient::vpnStateChanged);
    QVERIFY(core.report(QStringLiteral("reconnecting")));
    QVERIFY(stateSignals.count() > 0); // the handler did run

    QCOMPARE(core.balloons.size(), 1);
    QCOMPARE(core.tray.trayIcon()->icon().cacheKey(), icon);
    QCOMPARE(core.tray.trayIcon()->toolTip(), toolTip);
}

void TestWiring::languageSwitchReachesNextBalloon()
{
    WiredCore core;
    QVERIFY(core.start());
    const QVariantMap english = core.settings.t();
    QVERIFY(core.report(QStringLiteral("reconnecting")));

    core.settings.setLanguage(QStringLiteral("ru"));
    const QVariantMap russian = core.settings.t();
    QVERIFY(core.report(QStringLiteral("connected")));

    QCOMPARE(core.balloons.size(), 2);
    QCOMPARE(core.balloons.at(0).message, english.value("notifyReconnecting").toString());
    QCOMPARE(core.balloons.at(1).message, russian.value("notifyConnected").toString());
    QVERIFY(core.balloons.at(1).message != english.value("notifyConnected").toString());
}

void TestWiring::versionReachesTray()
{
    WiredCore core;
    QVERIFY(core.start());
    QSignalSpy versionChanged(&core.tray, &TrayManager::versionChanged);
    QVERIFY2(core.daemon.send(R"({"type":"pong","version":"1.4.2"})"), "no client connected");
    QTRY_COMPARE(core.tray.version(), QStringLiteral("1.4.2"));
    QCOMPARE(core.tray.trayIcon()->toolTip(), QStringLiteral("Kestrix v1.4.2 \u2014 disconnected"));
    QCOMPARE(versionChanged.count(), 1);
}

void TestWiring::connectReadsPreferencesWhenAsked()
{
    WiredCore core;
    QVERIFY(core.start());

    core.settings.setWhitelist(true);
    emit core.tray.connectRequested();
    core.settings.setWhitelist(false);
    core.settings.setGames(true);
    emit core.tray.connectRequested();
    emit core.tray.disconnectRequested();

    QVERIFY(core.daemon.waitForLines(3));
    QCOMPARE(core.daemon.lines(),
             (QList<QByteArray>{R"({"cmd":"connect","payload":{"games":false,"whitelist":true}})",
                                R"({"cmd":"connect","payload":{"games":true,"whitelist":false}})",
                                R"({"cmd":"disconnect"})"}));
}

void TestWiring::windowRequests()
{
    WiredCore core;
    QVERIFY(core.start());

    emit core.tray.showRequested();
    QCOMPARE(core.root.shows, 1);
    emit core.tray.toggleWindowRequested();
    emit core.tray.toggleWindowRequested();
    QCOMPARE(core.root.toggles, 2);
    QCOMPARE(core.root.shows, 1);
    emit core.tray.hideRequested(); // the tray menu's "Hide"
    QCOMPARE(core.root.hides, 1);

    // A second start: whatever it sends, or nothing at all, brings the window up.
    QLocalSocket second;
    second.connectToServer(core.singleInstancePath());
    QVERIFY(second.waitForConnected(5000));
    second.write("show");
    second.flush();
    QTRY_COMPARE(core.root.shows, 2);

    QLocalSocket silent;
    silent.connectToServer(core.singleInstancePath());
    QVERIFY(silent.waitForConnected(5000));
    QTRY_COMPARE(core.root.shows, 3);
    QVERIFY(!core.singleInstance.hasPendingConnections());
    QCOMPARE(core.root.toggles, 2);
}

void TestWiring::quitHook_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("applyUpdate");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<bool>("fromMenu");

    QTest::newRow("never: daemon asked to shut down")
        << "never" << false << QStringList{"shutdown"} << false;
    QTest::newRow("on_connect: daemon left running")
        << "on_connect" << false << QStringList{} << false;
    QTest::newRow("always: daemon left running") << "always" << false << QStringList{} << false;
    QTest::newRow("Never, capitalised: daemon left running")
        << "Never" << false << QStringList{} << false;
    QTest::newRow("never but applying an update")
        << "never" << true << QStringList{"apply_update"} << false;
    // The native tray menu's Quit goes the popup's way.
    QTest::newRow("tray menu, never: daemon asked to shut down")
        << "never" << false << QStringList{"shutdown"} << true;
    QTest::newRow("tray menu, always: daemon left running")
        << "always" << false << QStringList{} << true;
}

void TestWiring::quitHook()
{
    QFETCH(QString, mode);
    QFETCH(bool, applyUpdate);
    QFETCH(QStringList, sent);
    QFETCH(bool, fromMenu);

    WiredCore core;
    QVERIFY(core.start());
    QVERIFY(core.setKillSwitchMode(QStringLiteral("always")));
    QVERIFY(core.setKillSwitchMode(mode));
    if (applyUpdate) {
        core.pipe.sendApplyUpdate();
        QVERIFY(core.pipe.applyingUpdate());
    }

    // The tray popup's quit button ends the real event loop.
    bool timedOut = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, qApp, [&] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    watchdog.start(20000);
    QTimer::singleShot(0, &core.tray, [&core, fromMenu] {
        if (fromMenu)
            core.tray.menu()->actions().constLast()->trigger();
        else
            emit core.tray.quitRequested();
    });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!timedOut);

    // A ping sent afterwards marks the end of what the client wrote.
    core.pipe.sendPing();
    QVERIFY(QTest::qWaitFor([&] { return core.commands().contains("ping"); }, 5000));
    QCOMPARE(core.commands(), sent << QStringLiteral("ping"));
}

void TestWiring::destroyedWiringLeavesObjectsApart()
{
    WiredCore core;
    QVERIFY(core.start());
    core.wiring.reset();

    emit core.tray.showRequested();
    emit core.tray.toggleWindowRequested();
    emit core.tray.connectRequested();
    QVERIFY(core.report(QStringLiteral("connected")));

    QCOMPARE(core.root.shows, 0);
    QCOMPARE(core.root.toggles, 0);
    QCOMPARE(core.tray.vpnState(), QStringLiteral("disconnected"));
    QVERIFY(core.balloons.isEmpty());
    QVERIFY(!core.commands().contains("connect"));
}

void TestWiring::unreachableNote_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<bool>("unreachable");
    QTest::addColumn<QString>("next"); // local time of the next attempt, or none
    QTest::addColumn<QString>("expected");

    QTest::newRow("reachable: no note") << "en" << false << "14:05:31"
                                        << "";
    QTest::newRow("waiting, en")
        << "en" << true << "14:05:31"
        << "The Kestrix service is not reachable\nNext attempt at 14:05:31";
    QTest::newRow("waiting, ru") << "ru" << true << "09:00:07"
                                 << "Служба Kestrix недоступна\nСледующая попытка в 09:00:07";
    QTest::newRow("attempt under way") << "en" << true << ""
                                       << "The Kestrix service is not reachable\nConnecting…";
}

void TestWiring::unreachableNote()
{
    QFETCH(QString, language);
    QFETCH(bool, unreachable);
    QFETCH(QString, next);
    QFETCH(QString, expected);

    const qint64 at =
        next.isEmpty()
            ? 0
            : QDateTime(QDate(2026, 12, 10), QTime::fromString(next, QStringLiteral("HH:mm:ss")))
                  .toMSecsSinceEpoch();
    AppSettings settings;
    settings.setLanguage(language);
    QCOMPARE(::unreachableNote(settings.t(), unreachable, at), expected);
}

void TestWiring::trayClickTriesUnreachableDaemonAtOnce_data()
{
    QTest::addColumn<bool>("rightClick");
    QTest::newRow("left click") << false;
    QTest::newRow("right click") << true;
}

void TestWiring::trayClickTriesUnreachableDaemonAtOnce()
{
    QFETCH(bool, rightClick);

    WiredCore core;
    QVERIFY(core.start());
    // A quick round over in a moment, then a wait no test run reaches.
    ReconnectTimings timings;
    timings.quickDelayMs = 20;
    timings.backoffMs = {};
    timings.steadyDelayMs = 600000;
    core.pipe.setReconnectTimings(timings);
    core.daemon.stopListening();
    core.daemon.drop();
    QTRY_VERIFY(core.pipe.daemonUnreachable());
    // The tray's tooltip says so, in the language of the interface.
    QVERIFY(core.tray.trayIcon()->toolTip().contains(
        core.settings.t().value(QStringLiteral("daemonUnreachable")).toString()));
    core.settings.setLanguage(QStringLiteral("ru"));
    QVERIFY(core.tray.trayIcon()->toolTip().contains(QStringLiteral("Служба Kestrix недоступна")));

    QVERIFY(core.daemon.listen());
    if (rightClick)
        emit core.tray.popupRequested(10, 10);
    else
        emit core.tray.toggleWindowRequested();
    QVERIFY(core.daemon.waitForConnection(2));
    QVERIFY2(core.daemon.send(R"({"type":"ready","version":"1.0"})"), "no client connected");
    QTRY_VERIFY(!core.pipe.daemonUnreachable());
    QCOMPARE(core.tray.trayIcon()->toolTip(), QStringLiteral("Kestrix v1.0 \u2014 disconnected"));
}

namespace {

QStringList menuTexts(TrayManager &tray)
{
    QStringList texts;
    for (const QAction *action : tray.menu()->actions())
        texts << (action->isSeparator() ? QString() : action->text());
    return texts;
}

} // namespace

// The tray menu's connect entry acts only for a signed-in user, and every
// entry speaks the current language.
void TestWiring::trayMenuFollowsSignInAndLanguage()
{
    WiredCore core;
    QVERIFY(core.start(false));
    QAction *connectEntry = core.tray.menu()->actions().at(1);
    QVERIFY(!core.pipe.authenticated());
    QVERIFY(!connectEntry->isEnabled());

    QVERIFY(core.daemon.send(R"({"type":"status","authenticated":true,"status":"disconnected"})"));
    QTRY_VERIFY(core.pipe.authenticated());
    QVERIFY(connectEntry->isEnabled());
    QCOMPARE(menuTexts(core.tray), (QStringList{"Open Kestrix", "Connect", "", "Quit"}));

    core.settings.setLanguage(QStringLiteral("ru"));
    QCOMPARE(menuTexts(core.tray),
             (QStringList{u8"Открыть Kestrix", u8"Подключить", "", u8"Выход"}));
    QVERIFY(core.report(QStringLiteral("connected")));
    QCOMPARE(connectEntry->text(), QString::fromUtf8(u8"Отключить"));

    // Its requests reach the daemon as the popup's do.
    connectEntry->trigger();
    QVERIFY(QTest::qWaitFor([&] { return core.commands().contains("disconnect"); }, 5000));
}

// "Hide" while the window is on screen, "Open" while it is hidden or
// minimised; "Hide" hides it.
void TestWiring::trayMenuFollowsTheWindow()
{
    WiredCore core;
    QVERIFY(core.start(false));
    QWindow window;
    window.resize(200, 100);
    core.wiring->connectInterface(&window, nullptr);
    QAction *windowEntry = core.tray.menu()->actions().at(0);
    QCOMPARE(windowEntry->text(), QStringLiteral("Open Kestrix"));

    window.show();
    QTRY_COMPARE(windowEntry->text(), QStringLiteral("Hide Kestrix"));
    windowEntry->trigger();
    QTRY_VERIFY(!window.isVisible());
    QCOMPARE(windowEntry->text(), QStringLiteral("Open Kestrix"));

    window.showMinimized();
    QTRY_COMPARE(window.visibility(), QWindow::Minimized);
    QCOMPARE(windowEntry->text(), QStringLiteral("Open Kestrix"));
    QSignalSpy shows(&core.tray, &TrayManager::showRequested);
    windowEntry->trigger();
    QCOMPARE(shows.count(), 1);
}

int main(int argc, char *argv[])
{
    // A private settings store, created before the application exists.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("PROGRAMDATA");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestWiring test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wiring.moc"
