#include "app/qmlcontext.h"
#include "ipc/pipeclient.h"
#include "settings/appsettings.h"
#include "tray/traymanager.h"

#include "fakedaemon.h"
#include "quickitems.h"
#include "sessionclock.h"
#include "uitestmain.h"

#include <QApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

Q_IMPORT_QML_PLUGIN(qmlPlugin)

namespace {

const QByteArray kConnectLine = R"({"cmd":"connect","payload":{"games":false,"whitelist":true}})";
const QByteArray kDisconnectLine = R"({"cmd":"disconnect"})";
const QByteArray kPingLine = R"({"cmd":"ping"})";

} // namespace

// The tray popup on the real pipe client (fed by a fake daemon), tray
// manager and settings, as the shell creates it.
class TrayPopupTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void states_data();
    void states();
    void sessionLineIsCurrentWhenOpened();
    void sessionClockRunsOnlyWhenShownAndConnected();
    void versionLabel();
    void openButtonHidesAndAsksForWindow();
    void quitButtonAsksToQuit();
    void hidesWhenAnotherWindowIsActivated();
    void escapeHides();
    void hiddenByShellReopensAtOnce();
    void placement_data();
    void placement();
    void openAtUsesAvailableDesktop();

private:
    bool deliver(const QByteArray &line);
    QByteArray commandAfterClick(QQuickItem *button);
    QQuickItem *item(const char *name, const char *file = __builtin_FILE(),
                     int line = __builtin_LINE()) const
    {
        return requireItem(m_popup->contentItem(), QLatin1String(name), file, line);
    }
    void open();
    void click(QQuickItem *target);

    std::unique_ptr<FakeDaemon> m_daemon;
    std::unique_ptr<PipeClient> m_pipe;
    std::unique_ptr<TrayManager> m_tray;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<QQmlEngine> m_engine;
    QQuickWindow *m_popup = nullptr;
};

void TrayPopupTest::init()
{
    m_daemon = std::make_unique<FakeDaemon>();
    QVERIFY(m_daemon->listen());
    m_pipe = std::make_unique<PipeClient>();
    m_tray = std::make_unique<TrayManager>();
    m_settings = std::make_unique<AppSettings>();
    m_settings->setLanguage(QStringLiteral("en"));
    m_settings->setDarkTheme(true);
    m_settings->setWhitelist(true);
    m_settings->setGames(false);

    m_engine = std::make_unique<QQmlEngine>();
    publishCoreObjects(m_engine->rootContext(), m_pipe.get(), m_tray.get(), m_settings.get());
    QQmlComponent component(m_engine.get(), QUrl(QStringLiteral("qrc:/qml/TrayPopup.qml")));
    QObject *object = component.create();
    QVERIFY2(object, qPrintable(component.errorString()));
    m_popup = qobject_cast<QQuickWindow *>(object);
    QVERIFY(m_popup);
    QVERIFY(!m_popup->isVisible());
    QCOMPARE(m_popup->size(), QSize(280, 206));

    QVERIFY(m_daemon->connectClient(*m_pipe));
}

void TrayPopupTest::cleanup()
{
    delete m_popup;
    m_popup = nullptr;
    m_engine.reset();
    m_settings.reset();
    m_tray.reset();
    m_pipe.reset();
    m_daemon.reset();
}

// Sends an event line and waits until the client has handled it.
bool TrayPopupTest::deliver(const QByteArray &line)
{
    return m_daemon->deliver(*m_pipe, line);
}

void TrayPopupTest::open()
{
    QMetaObject::invokeMethod(m_popup, "openAt", Q_ARG(QVariant, 400), Q_ARG(QVariant, 500));
    QVERIFY(QTest::qWaitForWindowExposed(m_popup));
}

void TrayPopupTest::click(QQuickItem *target)
{
    clickItem(m_popup, target);
}

// The command line a click on the button makes the client write, or nothing:
// a ping sent after the click marks the end of what the click wrote.
QByteArray TrayPopupTest::commandAfterClick(QQuickItem *button)
{
    m_daemon->clearLines();
    click(button);
    m_pipe->sendPing();
    if (!QTest::qWaitFor([&] { return m_daemon->lines().contains(kPingLine); }, 5000))
        return "(no ping)";
    const QList<QByteArray> lines = m_daemon->lines();
    return lines.size() == 1 ? QByteArray() : lines.first() + (lines.size() > 2 ? " and more" : "");
}

void TrayPopupTest::states_data()
{
    QTest::addColumn<QByteArray>("event");
    QTest::addColumn<QString>("stateKey");
    QTest::addColumn<QString>("dotColour");
    QTest::addColumn<bool>("sessionShown");
    QTest::addColumn<QString>("actionKey");
    QTest::addColumn<QString>("fill");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QByteArray>("command");

    const QByteArray since =
        QDateTime::currentDateTimeUtc().addSecs(-125).toString(Qt::ISODate).toUtf8();
    auto status = [](const QByteArray &state, bool signedIn, const QByteArray &extra = {}) {
        return R"({"type":"status","authenticated":)" + QByteArray(signedIn ? "true" : "false") +
               R"(,"status":")" + state + '"' + extra + '}';
    };

    QTest::newRow("connected") << status("connected", true,
                                         R"(,"connected_since":")" + since +
                                             R"(","up":10,"down":20)")
                               << "statusProtected"
                               << "success" << true << "disconnect"
                               << "danger" << true << kDisconnectLine;
    QTest::newRow("connecting") << status("connecting", true) << "statusConnecting"
                                << "warning" << false << "pleaseWait"
                                << "accent" << false << QByteArray();
    QTest::newRow("reconnecting, attempt 3 not shown")
        << status("reconnecting", true, R"(,"attempt":3)") << "statusReconnecting"
        << "warning" << false << "pleaseWait"
        << "accent" << false << QByteArray();
    QTest::newRow("failed") << status("failed", true, R"(,"error":"handshake timeout")")
                            << "connectionFailed"
                            << "danger" << false << "connect"
                            << "accent" << true << kConnectLine;
    QTest::newRow("disconnected") << status("disconnected", true) << "statusNotConnected"
                                  << "fgMuted" << false << "connect"
                                  << "accent" << true << kConnectLine;
    QTest::newRow("unknown state, compared case-sensitively")
        << status("Connected", true) << "statusNotConnected"
        << "fgMuted" << false << "connect"
        << "accent" << true << kConnectLine;
    QTest::newRow("signed out, idle") << status("disconnected", false) << "statusNotConnected"
                                      << "fgMuted" << false << "connect"
                                      << "accent" << false << QByteArray();
    QTest::newRow("signed out, failed") << status("failed", false) << "connectionFailed"
                                        << "danger" << false << "connect"
                                        << "accent" << false << QByteArray();
}

void TrayPopupTest::states()
{
    QFETCH(QByteArray, event);
    QFETCH(QString, stateKey);
    QFETCH(QString, dotColour);
    QFETCH(bool, sessionShown);
    QFETCH(QString, actionKey);
    QFETCH(QString, fill);
    QFETCH(bool, enabled);
    QFETCH(QByteArray, command);

    const QDateTime before = QDateTime::currentDateTimeUtc();
    QVERIFY(deliver(event));
    open();
    const QVariantMap t = m_settings->t();

    QQuickItem *stateLine = item("stateLine");
    QVERIFY(stateLine);
    QCOMPARE(stateLine->property("text").toString(), t.value(stateKey).toString());

    QQuickItem *dot = item("stateDot");
    QVERIFY(dot);
    const QColor expectedDot = m_settings->property(qPrintable(dotColour)).value<QColor>();
    QTRY_COMPARE(dot->property("color").value<QColor>(), expectedDot);

    QCOMPARE(shown(item("sessionLine")), sessionShown);
    QCOMPARE(shown(item("speedStrip")), sessionShown);
    if (sessionShown) {
        // Over two minutes, under an hour: minutes and seconds.
        const QString session = item("sessionLine")->property("text").toString();
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^\d\d:\d\d$)")).match(session).hasMatch(),
                 qPrintable(session));
        const QDateTime since = QDateTime::fromString(
            QJsonDocument::fromJson(event).object().value("connected_since").toString(),
            Qt::ISODate);
        const QString mismatch = sessionClockMismatch(session, since, before);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        QCOMPARE(item("downSpeed")->property("text").toString(), QStringLiteral("↓ 0 KB/s"));
        QCOMPARE(item("upSpeed")->property("text").toString(), QStringLiteral("↑ 0 KB/s"));
    }

    QQuickItem *action = item("actionButton");
    QVERIFY(action);
    QCOMPARE(action->property("text").toString(), t.value(actionKey).toString());
    QCOMPARE(action->property("baseColor").value<QColor>(),
             m_settings->property(qPrintable(fill)).value<QColor>());
    QCOMPARE(action->isEnabled(), enabled);
    QCOMPARE(action->opacity(), enabled ? 1.0 : 0.5);

    QCOMPARE(commandAfterClick(action), command);
}

// The clock does not tick while the popup is hidden; opening it must not show
// the session length of the previous opening.
void TrayPopupTest::sessionLineIsCurrentWhenOpened()
{
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const QDateTime sinceTime = before.addSecs(-(3600 + 65));
    const QByteArray since = sinceTime.toString(Qt::ISODate).toUtf8();
    QVERIFY(deliver(
        R"({"type":"status","authenticated":true,"status":"connected","connected_since":")" +
        since + R"("})"));
    m_popup->setProperty("nowMs", 0.0); // a clock left far behind
    open();
    const QString text = item("sessionLine")->property("text").toString();
    QVERIFY2(text.startsWith(QLatin1String("1:0")), qPrintable(text)); // hours past one
    // As sent: whole seconds.
    const QString mismatch = sessionClockMismatch(
        text, QDateTime::fromString(QString::fromUtf8(since), Qt::ISODate), before);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

// The clock wakes the application only while someone can see it.
void TrayPopupTest::sessionClockRunsOnlyWhenShownAndConnected()
{
    QObject *clock = nullptr;
    const QList<QObject *> children = m_popup->findChildren<QObject *>();
    for (QObject *child : children)
        if (QByteArray(child->metaObject()->className()) == "QQmlTimer" &&
            child->property("repeat").toBool())
            clock = child;
    QVERIFY(clock);
    auto running = [clock] { return clock->property("running").toBool(); };

    QVERIFY(deliver(R"({"type":"status","authenticated":true,"status":"connected"})"));
    QVERIFY(!running());
    open();
    QVERIFY(running());
    const double before = m_popup->property("nowMs").toDouble();
    QTRY_VERIFY_WITH_TIMEOUT(m_popup->property("nowMs").toDouble() >= before + 900, 5000);

    QVERIFY(deliver(R"({"type":"status","authenticated":true,"status":"reconnecting"})"));
    QVERIFY(!running());
    QVERIFY(deliver(R"({"type":"status","authenticated":true,"status":"connected"})"));
    QVERIFY(running());
    m_popup->hide();
    QTRY_VERIFY(!running());
}

void TrayPopupTest::versionLabel()
{
    QQuickItem *label = item("versionLabel");
    QVERIFY(label);
    QCOMPARE(label->property("text").toString(), QString());
    m_tray->setVersion(QStringLiteral("2.4.1"));
    QCOMPARE(label->property("text").toString(), QStringLiteral("v2.4.1"));

    // The version comes from another process: markup in it is shown, not obeyed.
    const qreal plainWidth = label->implicitWidth();
    m_tray->setVersion(QStringLiteral("<b></b><i></i>2.4.1"));
    QVERIFY2(label->implicitWidth() > plainWidth + 20, "markup in the version was rendered");
}

void TrayPopupTest::openButtonHidesAndAsksForWindow()
{
    QSignalSpy showRequested(m_tray.get(), &TrayManager::showRequested);
    QSignalSpy quitRequested(m_tray.get(), &TrayManager::quitRequested);
    open();
    QQuickItem *button = item("openButton");
    QVERIFY(button);
    QCOMPARE(button->property("text").toString(),
             m_settings->t().value(QStringLiteral("trayOpen")).toString());
    click(button);
    QCOMPARE(showRequested.size(), 1);
    QVERIFY(!m_popup->isVisible());
    QCOMPARE(quitRequested.size(), 0);
}

void TrayPopupTest::quitButtonAsksToQuit()
{
    QSignalSpy showRequested(m_tray.get(), &TrayManager::showRequested);
    QSignalSpy quitRequested(m_tray.get(), &TrayManager::quitRequested);
    open();
    QQuickItem *button = item("quitButton");
    QVERIFY(button);
    QCOMPARE(button->property("text").toString(),
             m_settings->t().value(QStringLiteral("quit")).toString());
    QCOMPARE(button->width(), 80.0);
    click(button);
    QCOMPARE(quitRequested.size(), 1);
    QCOMPARE(showRequested.size(), 0);
    // Quitting tells the daemon nothing by itself.
    QCOMPARE(commandAfterClick(item("card")), QByteArray());
}

void TrayPopupTest::hidesWhenAnotherWindowIsActivated()
{
    open();
    QTRY_VERIFY(m_popup->isActive());
    // The tray click that took the focus away arrives right after the popup
    // hid itself: it closed the popup and must not open it again. Sent the
    // moment the popup hides, however late this test gets to look.
    bool reopenTried = false;
    const QMetaObject::Connection hidden =
        connect(m_popup, &QWindow::visibleChanged, this, [&](bool visible) {
            if (visible || reopenTried)
                return;
            reopenTried = true;
            QMetaObject::invokeMethod(m_popup, "openAt", Q_ARG(QVariant, 400),
                                      Q_ARG(QVariant, 500));
        });
    QWindow other;
    other.resize(100, 100);
    other.show();
    other.requestActivate();
    QTRY_VERIFY(reopenTried);
    disconnect(hidden);
    QVERIFY(!m_popup->isVisible());

    // A later click opens it as usual.
    QObject *guard = m_popup->findChild<QObject *>(QStringLiteral("focusLossGuard"));
    QVERIFY(guard);
    QTRY_VERIFY(!guard->property("running").toBool());
    open();
    QVERIFY(m_popup->isVisible());
}

void TrayPopupTest::escapeHides()
{
    open();
    QTRY_VERIFY(m_popup->isActive());
    QTest::keyClick(m_popup, Qt::Key_Escape);
    QTRY_VERIFY(!m_popup->isVisible());
}

// Hiding it from outside (the shell, the open button) is no loss of focus:
// the next request opens it at once.
void TrayPopupTest::hiddenByShellReopensAtOnce()
{
    open();
    QTRY_VERIFY(m_popup->isActive());
    m_popup->hide();
    open();
    QVERIFY(m_popup->isVisible());
}

void TrayPopupTest::placement_data()
{
    QTest::addColumn<QPoint>("anchor");
    QTest::addColumn<QRect>("desktop");
    QTest::addColumn<QPoint>("expected");

    const QRect fullHd(0, 0, 1920, 1040);
    QTest::newRow("taskbar at the bottom: centred, 12 px above the icon")
        << QPoint(1500, 1040) << fullHd << QPoint(1360, 822);
    QTest::newRow("near the left edge") << QPoint(147, 1040) << fullHd << QPoint(8, 822);
    QTest::newRow("148 px from the left edge") << QPoint(148, 1040) << fullHd << QPoint(8, 822);
    QTest::newRow("149 px from the left edge") << QPoint(149, 1040) << fullHd << QPoint(9, 822);
    QTest::newRow("near the right edge") << QPoint(1910, 1040) << fullHd << QPoint(1632, 822);
    QTest::newRow("desktop narrower than the popup: the right bound wins")
        << QPoint(100, 1040) << QRect(0, 0, 250, 1040) << QPoint(-38, 822);
    QTest::newRow("227: room above") << QPoint(960, 227) << fullHd << QPoint(820, 9);
    QTest::newRow("226: no room above, opens below")
        << QPoint(960, 226) << fullHd << QPoint(820, 238);
    QTest::newRow("taskbar at the top") << QPoint(1800, 0) << fullHd << QPoint(1632, 12);
    QTest::newRow("below, kept off the bottom")
        << QPoint(960, 200) << QRect(0, 0, 1920, 400) << QPoint(820, 186);
    QTest::newRow("screen left of the primary one")
        << QPoint(1900, 1040) << QRect(-1920, 0, 3840, 1040) << QPoint(1632, 822);
    QTest::newRow("anchor on the screen left of the primary one")
        << QPoint(-1800, 1040) << QRect(-1920, 0, 3840, 1040) << QPoint(-1912, 822);
    QTest::newRow("screen above the primary one")
        << QPoint(960, -900) << QRect(0, -1080, 1920, 2120) << QPoint(820, -888);
}

void TrayPopupTest::placement()
{
    QFETCH(QPoint, anchor);
    QFETCH(QRect, desktop);
    QFETCH(QPoint, expected);
    QVariant result;
    QVERIFY(QMetaObject::invokeMethod(
        m_popup, "placement", Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, anchor.x()),
        Q_ARG(QVariant, anchor.y()), Q_ARG(QVariant, desktop.x()), Q_ARG(QVariant, desktop.y()),
        Q_ARG(QVariant, desktop.width()), Q_ARG(QVariant, desktop.height())));
    QCOMPARE(result.toPointF().toPoint(), expected);
}

// openAt measures the desktop the platform reports, less what is reserved.
void TrayPopupTest::openAtUsesAvailableDesktop()
{
    const QRect desktop = QGuiApplication::primaryScreen()->availableVirtualGeometry();
    QMetaObject::invokeMethod(m_popup, "openAt", Q_ARG(QVariant, desktop.right() - 2),
                              Q_ARG(QVariant, desktop.bottom()));
    QVERIFY(QTest::qWaitForWindowExposed(m_popup));
    QCOMPARE(m_popup->position(),
             QPoint(desktop.x() + desktop.width() - 288, desktop.bottom() - 218));
}

KESTRIX_UI_TEST_MAIN(TrayPopupTest)

#include "tst_traypopup.moc"
