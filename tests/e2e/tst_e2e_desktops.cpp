#include "buslog.h"
#include "e2esession.h"

#include <QtTest>

#include "testmain.h"

Q_DECLARE_METATYPE(E2eSession::Host)

// The tray icon on the panels people run, each the real program on a private
// desktop (desktophost.cpp): LXQt's panel and GNOME Shell with the
// AppIndicator extension, both hosts of StatusNotifierItems. The icon is
// found where the panel changed when the app came, and used with the mouse;
// its menu's entries are read as the panel reads them (DBusMenu) and found
// on the screen where the panel drew their lines; what the app asks of the
// desktop is read off the session bus. A host that is not installed skips
// its rows.
class TestE2eDesktops : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { m_session.reset(); }
    void iconShowsAndLeftClickToggles_data();
    void iconShowsAndLeftClickToggles();
    void menuQuitEndsAppAndDaemon_data() { hosts(); }
    void menuQuitEndsAppAndDaemon();
    void menuConnectNotifies_data() { hosts(); }
    void menuConnectNotifies();
    void latePanelTakesMinimizedApp_data() { hosts(); }
    void latePanelTakesMinimizedApp();
    void swayIconInBarAndWindowFloatsAtItsSize();
    void swayLateBarTakesMinimizedApp();

private:
    using Host = E2eSession::Host;
    static constexpr Host kHosts[] = {Host::LxqtPanel, Host::GnomeShell, Host::Plasma,
                                      Host::MatePanel};
    // Whether this run covers the host (KESTRIX_E2E_HOST names the one, or
    // every host when unset).
    static bool chosen(Host host);
    static void hosts();
    // The desktop with its panel, the daemon (signed in with the kill
    // switch at "never" when asked) and the app; false with the step that
    // failed in *why.
    bool startAll(Host host, bool signedIn, const QStringList &appArgs,
                  const QStringList &daemonArgs, QByteArray *why);
    // Where the icon is: the part of the panel's icon area that differs
    // from `without`, once it has stayed the same for two looks.
    QRect waitForIcon(const QImage &without, int timeoutMs = 20000) const;
    // Opens the icon's menu with a right click (or another button), once the item offers these
    // entries (E2eSession::itemMenu, "-" a separator); false with the
    // reason when it does not show. *where gets the line of each labelled
    // entry on the screen, found in a screenshot: the hosts' menus are not
    // on the accessibility bus, and their keyboard handling differs.
    bool openMenu(const QRect &icon, const QStringList &entries, QList<QRect> *where,
                  QByteArray *why, int button = 3);

    std::unique_ptr<E2eSession> m_session;
    QImage m_withoutApp;
};

namespace {

const QByteArray kStatusQuery = "{\"cmd\":\"status\"}";
const QByteArray kShutdown = "{\"cmd\":\"shutdown\"}";

// The part of `area` where the two shots differ, or an empty rectangle.
QRect changed(const QImage &a, const QImage &b, const QRect &area)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (a.valid(x, y) && b.valid(x, y) &&
                !E2eSession::near(a.pixelColor(x, y), b.pixelColor(x, y), 24))
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

bool iconSized(const QRect &r)
{
    return r.width() >= 8 && r.width() <= 48 && r.height() >= 8 && r.height() <= 48;
}

// The app's icon where `withIcon` shows it and `other` does not: the part of
// `area` that differs, or, where the panel also moved its other icons aside
// (Plasma), the part that differs and is blue in `withIcon`, as the icon's
// tile is and no panel's background or symbolic icons are.
QRect changedIcon(const QImage &withIcon, const QImage &other, const QRect &area)
{
    const QRect box = changed(withIcon, other, area);
    if (iconSized(box) || box.isEmpty())
        return box;
    QRect blue;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            const QColor c = withIcon.pixelColor(x, y);
            if (c.blue() - c.red() > 60 && !E2eSession::near(c, other.pixelColor(x, y), 24))
                blue |= QRect(x, y, 1, 1);
        }
    }
    return blue;
}

} // namespace

bool TestE2eDesktops::chosen(Host host)
{
    // One host per run: CTest runs each as an entry of its own, in parallel
    // with the rest and each within its own time.
    const QString only = qEnvironmentVariable("KESTRIX_E2E_HOST");
    return only.isEmpty() || only == E2eSession::hostName(host);
}

void TestE2eDesktops::hosts()
{
    QTest::addColumn<Host>("host");
    for (const Host host : kHosts) {
        if (chosen(host))
            QTest::newRow(qPrintable(E2eSession::hostName(host))) << host;
    }
}

bool TestE2eDesktops::startAll(Host host, bool signedIn, const QStringList &appArgs,
                               const QStringList &daemonArgs, QByteArray *why)
{
    E2eSession &s = *m_session;
    if (signedIn && !s.setDaemonState(true, QStringLiteral("never"))) {
        *why = "cannot write the daemon's state";
        return false;
    }
    if (!s.startDaemon(daemonArgs)) {
        *why = "the daemon did not start";
        return false;
    }
    Q_UNUSED(host);
    s.parkPointer();
    QTest::qWait(300); // a hover highlight fades
    m_withoutApp = s.screenshot();
    s.startApp(appArgs);
    if (!QTest::qWaitFor([&] { return s.daemonReceived(kStatusQuery); }, 20000)) {
        *why = "the app did not ask the daemon for its status";
        return false;
    }
    return true;
}

QRect TestE2eDesktops::waitForIcon(const QImage &without, int timeoutMs) const
{
    const E2eSession &s = *m_session;
    QRect last;
    QRect found;
    // found tells whether it came in time.
    (void)QTest::qWaitFor(
        [&] {
            const QRect now = changedIcon(s.screenshot(), without, s.hostIconArea());
            if (iconSized(now) && now == last) {
                found = now;
                return true;
            }
            last = now;
            QTest::qWait(200);
            return false;
        },
        timeoutMs);
    return found;
}

bool TestE2eDesktops::openMenu(const QRect &icon, const QStringList &entries, QList<QRect> *where,
                               QByteArray *why, int button)
{
    E2eSession &s = *m_session;
    // The entries the host was given, read as it reads them.
    QStringList menu;
    if (!QTest::qWaitFor([&] { return (menu = s.itemMenu()) == entries; }, 10000)) {
        *why = "the item's menu is " + menu.join(QStringLiteral(" | ")).toUtf8() + " (item " +
               s.statusNotifierItem().toUtf8() + ", menu " +
               s.itemProperty(QStringLiteral("Menu")).toUtf8() + ")";
        return false;
    }
    // The host draws it above the rest of the screen, outside its panel.
    const QRect panel = s.hostIconArea();
    const QRect screen = panel.top() == 0 ? QRect(0, 32, 1280, 768) : QRect(0, 0, 1280, 768);
    QRect shown;
    for (int attempt = 0; attempt < 3 && !shown.isValid(); ++attempt) {
        s.parkPointer();
        QTest::qWait(300);
        const QImage before = s.screenshot();
        s.slowClick(icon.center(), button);
        QRect last;
        // Once it has stopped growing: it may open with an animation.
        const bool came = QTest::qWaitFor(
            [&] {
                const QRect area = changed(before, s.screenshot(), screen);
                if (area.width() >= 60 && area.height() >= 40 && area == last)
                    shown = area;
                last = area;
                return shown.isValid();
            },
            6000);
        if (!came)
            s.pressKey(QStringLiteral("Escape"));
    }
    if (!shown.isValid()) {
        *why = "no menu showed on a right click";
        return false;
    }
    // Each entry is a line of text: rows where some of the menu's middle
    // differs from its colour. Borders, shadows and separators run across
    // it; rounded corners lie outside the middle. Read once it has faded in
    // (Plasma's does, after it has reached its size).
    QTest::qWait(500);
    const QImage shot = s.screenshot();
    const int from = shown.left() + shown.width() / 4;
    const int to = shown.right() - shown.width() / 4;
    QHash<QRgb, int> colours;
    for (int y = shown.top(); y <= shown.bottom(); ++y) {
        for (int x = from; x <= to; ++x)
            ++colours[shot.pixel(x, y)];
    }
    QRgb background = 0;
    for (auto it = colours.cbegin(); it != colours.cend(); ++it) {
        if (it.value() > colours.value(background))
            background = it.key();
    }
    QList<QRect> lines;
    bool inLine = false;
    for (int y = shown.top(); y <= shown.bottom(); ++y) {
        int ink = 0;
        for (int x = from; x <= to; ++x)
            ink += E2eSession::near(shot.pixelColor(x, y), QColor(background), 30) ? 0 : 1;
        const bool text = ink > 0 && ink < (to - from) * 8 / 10;
        if (text && !inLine)
            lines << QRect(shown.left(), y, shown.width(), 1);
        else if (text)
            lines.last().setBottom(y);
        inLine = text;
    }
    where->clear();
    for (const QRect &line : std::as_const(lines)) {
        if (line.height() >= 5) // not a stray row of a border
            *where << line;
    }
    const qsizetype labelled = entries.size() - entries.count(QStringLiteral("-"));
    if (where->size() != labelled) {
        *why = QByteArray::number(where->size()) + " lines of text in the menu at " +
               E2eSession::describe({{0, shown}}) + "for " + QByteArray::number(labelled) +
               " entries";
        return false;
    }
    return true;
}

void TestE2eDesktops::iconShowsAndLeftClickToggles_data()
{
    QTest::addColumn<Host>("host");
    QTest::addColumn<bool>("leftClickMenu");
    for (const Host host : kHosts) {
        // The AppIndicator extension opens an item's menu on a left click,
        // as Ubuntu's indicators always did; the menu's first entry does the
        // rest.
        if (chosen(host))
            QTest::newRow(qPrintable(E2eSession::hostName(host)))
                << host << (host == Host::GnomeShell);
    }
}

void TestE2eDesktops::iconShowsAndLeftClickToggles()
{
    QFETCH(Host, host);
    QFETCH(bool, leftClickMenu);
    E2E_START_DESKTOP_WITH_HOST(m_session, host);
    E2eSession &s = *m_session;
    QByteArray why;
    QVERIFY2(startAll(host, false, {}, {}, &why), why.constData());
    QTRY_VERIFY_WITH_TIMEOUT(s.mainWindow().id, 20000);

    const QRect icon = waitForIcon(m_withoutApp);
    QVERIFY2(icon.isValid(), "no icon showed in the panel");
    QVERIFY(!s.statusNotifierItem().isEmpty());
    QCOMPARE(s.itemProperty(QStringLiteral("Status")), QStringLiteral("'Active'"));

    // A left click hides the window in front, the next brings it back. (One
    // behind others, or not focused, is brought forward instead: a window
    // manager may map a new window without the focus.)
    // A click on it first, on an empty part of the sign-in screen (the
    // title bar would start a move).
    s.clickMain(QPoint(60, 200));
    QTest::qWait(500);
    if (leftClickMenu) {
        QList<QRect> lines;
        QVERIFY2(openMenu(icon, {"Hide Kestrix", "Connect (off)", "-", "Quit"}, &lines, &why, 1),
                 why.constData());
        s.slowClick(lines.at(0).center());
        QTRY_COMPARE_WITH_TIMEOUT(s.mainWindow().id, 0ull, 10000);
        QVERIFY2(openMenu(icon, {"Open Kestrix", "Connect (off)", "-", "Quit"}, &lines, &why, 1),
                 why.constData());
        s.slowClick(lines.at(0).center());
        QTRY_VERIFY_WITH_TIMEOUT(s.mainWindow().id, 10000);
        return;
    }
    s.slowClick(icon.center());
    QTRY_COMPARE_WITH_TIMEOUT(s.mainWindow().id, 0ull, 10000);
    QCOMPARE(s.app()->state(), QProcess::Running);
    // Two clicks close together are a double click to some panels.
    QTest::qWait(1000);
    s.slowClick(icon.center());
    QTRY_VERIFY_WITH_TIMEOUT(s.mainWindow().id, 10000);
}

void TestE2eDesktops::menuQuitEndsAppAndDaemon()
{
    QFETCH(Host, host);
    E2E_START_DESKTOP_WITH_HOST(m_session, host);
    E2eSession &s = *m_session;
    QByteArray why;
    QVERIFY2(startAll(host, true, {}, {}, &why), why.constData());
    QTRY_VERIFY_WITH_TIMEOUT(s.showsSignedIn(), 20000);
    const QRect icon = waitForIcon(m_withoutApp);
    QVERIFY2(icon.isValid(), "no icon showed in the panel");

    // The window is shown and the user signed in but not connected; Quit
    // comes last.
    QList<QRect> lines;
    QVERIFY2(openMenu(icon, {"Hide Kestrix", "Connect", "-", "Quit"}, &lines, &why),
             why.constData());
    // With the kill switch at "never" the daemon is asked to shut down too.
    s.slowClick(lines.at(2).center());
    QProcess *app = s.app();
    QVERIFY(app->waitForFinished(15000));
    QCOMPARE(app->exitStatus(), QProcess::NormalExit);
    QCOMPARE(app->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(s.daemonReceived(kShutdown), 10000);
    QVERIFY(s.daemon()->waitForFinished(10000));
    QCOMPARE(s.daemon()->exitCode(), 0);
}

void TestE2eDesktops::menuConnectNotifies()
{
    QFETCH(Host, host);
    E2E_START_DESKTOP_WITH_HOST(m_session, host);
    E2eSession &s = *m_session;
    if (host == Host::LxqtPanel || host == Host::MatePanel) {
        // LXQt's and MATE's notification daemons are programs of their own,
        // not the panel.
        QString error;
        if (!s.startNotificationServer(&error)) {
            if (s.desktopMissing())
                QSKIP(qPrintable(error));
            QFAIL(qPrintable(error));
        }
    }
    QVERIFY(s.startBusMonitor());
    QByteArray why;
    // Connected at once, and dropped a moment later: two notifications,
    // "connected" and "reconnecting".
    QVERIFY2(startAll(host, true, {},
                      {QStringLiteral("--connect-delay"), QStringLiteral("0.3"),
                       QStringLiteral("--drop-every"), QStringLiteral("3")},
                      &why),
             why.constData());
    const QRect icon = waitForIcon(m_withoutApp);
    QVERIFY2(icon.isValid(), "no icon showed in the panel");

    QList<QRect> lines;
    QVERIFY2(openMenu(icon, {"Hide Kestrix", "Connect", "-", "Quit"}, &lines, &why),
             why.constData());
    s.slowClick(lines.at(1).center());
    QTRY_VERIFY_WITH_TIMEOUT(
        s.daemonReceived("{\"cmd\":\"connect\",\"payload\":{\"games\":false,\"whitelist\":false}}"),
        10000);

    QList<BusLog::Notification> sent;
    QTRY_VERIFY_WITH_TIMEOUT(
        (sent = BusLog::notifications(s.busLog())).size() >= 2 && sent.at(1).id != 0, 20000);
    for (const BusLog::Notification &n : std::as_const(sent)) {
        QCOMPARE(n.appName, QStringLiteral("Kestrix"));
        QVERIFY2(n.appIcon == QLatin1String("app.kestrix.Kestrix") ||
                     n.hints.contains(QStringLiteral("image-data")),
                 qPrintable(n.appIcon));
        QCOMPARE(n.hints.value(QStringLiteral("desktop-entry")),
                 QStringLiteral("string \"app.kestrix.Kestrix\""));
        // Normal: a banner that goes by itself, not a low one kept silent.
        QCOMPARE(n.hints.value(QStringLiteral("urgency")), QStringLiteral("byte 1"));
        QCOMPARE(n.timeout, 4000);
        QVERIFY(n.id != 0);
    }
    QCOMPARE(sent.at(0).replacesId, 0u);
    QVERIFY2(sent.at(0).summary.contains(QStringLiteral("Connected")) ||
                 sent.at(0).body.contains(QStringLiteral("Connected")),
             qPrintable(sent.at(0).summary + u'/' + sent.at(0).body));
    // The second takes the first one's place rather than piling up.
    QCOMPARE(sent.at(1).replacesId, sent.at(0).id);

    // A notification is no call for attention: the item stays "Active".
    QCOMPARE(s.itemProperty(QStringLiteral("Status")), QStringLiteral("'Active'"));
    QVERIFY2(!BusLog::newStatuses(s.busLog()).contains(QStringLiteral("NeedsAttention")),
             qPrintable(BusLog::newStatuses(s.busLog()).join(u' ')));
}

void TestE2eDesktops::latePanelTakesMinimizedApp()
{
    QFETCH(Host, host);
    // A session whose panel comes late: the app starts first, minimised,
    // with no tray to go to.
    E2E_START_DESKTOP_WITH_HOST(m_session, Host::None);
    E2eSession &s = *m_session;
    QByteArray why;
    QVERIFY2(startAll(host, false, {QStringLiteral("--minimized")}, {}, &why), why.constData());
    QTest::qWait(4000);
    QString error;
    if (!s.startHost(host, &error)) {
        if (s.desktopMissing())
            QSKIP(qPrintable(error));
        QFAIL(qPrintable(error));
    }

    // The icon goes to the panel as an item of the panel's own kind, and
    // the window leaves the taskbar. (Waits by the clock: each look at a
    // busy desktop takes long, which QTRY would not count.)
    QVERIFY2(QTest::qWaitFor([&] { return !s.statusNotifierItem().isEmpty(); }, 30000),
             "the app's icon is no StatusNotifierItem of the panel's");
    QList<qulonglong> managed;
    QVERIFY2(
        QTest::qWaitFor([&] { return s.managedAppWindows(&managed) && managed.isEmpty(); }, 15000),
        "the window stayed on the taskbar");
    QCOMPARE(s.mainWindow().id, 0ull);

    // The icon is what leaves the panel when the app ends.
    s.parkPointer();
    QTest::qWait(1000);
    const QImage withApp = s.screenshot();
    s.app()->terminate();
    QVERIFY(s.app()->waitForFinished(10000));
    QRect icon;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     return iconSized(icon =
                                          changedIcon(withApp, s.screenshot(), s.hostIconArea()));
                 },
                 15000),
             "no icon left the panel when the app ended, the panel changed at " +
                 E2eSession::describe({{0, icon}}));
}

// sway tiles every window that does not ask to float: the app's must keep
// its size and float, and its icon goes to waybar's tray.
void TestE2eDesktops::swayIconInBarAndWindowFloatsAtItsSize()
{
    if (!chosen(Host::Sway))
        QSKIP("sway runs in a CTest entry of its own");
    E2E_START_DESKTOP_WITH_HOST(m_session, Host::Sway);
    E2eSession &s = *m_session;
    QVERIFY2(s.startDaemon(), s.failure());
    s.startApp();
    QVERIFY2(QTest::qWaitFor([&] { return !s.statusNotifierItem().isEmpty(); }, 20000),
             "no item of the app's in waybar's tray");
    QCOMPARE(s.itemProperty(QStringLiteral("Status")), QStringLiteral("'Active'"));

    QList<E2eSession::SwayWindow> windows;
    QVERIFY2(
        QTest::qWaitFor([&] { return s.swayAppWindows(&windows) && !windows.isEmpty(); }, 30000),
        "sway shows no window of the app");
    QCOMPARE(windows.size(), 1);
    QCOMPARE(windows.at(0).rect.size(), QSize(400, 620));
    QVERIFY2(windows.at(0).floating, "sway tiles the window");
}

// sway never minimises: a window started --minimized for want of a tray is
// shown, and must go into the tray once the bar comes.
void TestE2eDesktops::swayLateBarTakesMinimizedApp()
{
    if (!chosen(Host::Sway))
        QSKIP("sway runs in a CTest entry of its own");
    m_session = std::make_unique<E2eSession>();
    E2eSession &s = *m_session;
    QString error;
    if (!s.startSway(&error, false)) {
        if (s.desktopMissing())
            QSKIP(qPrintable(error));
        QFAIL(qPrintable(error));
    }
    QVERIFY2(s.startDaemon(), s.failure());
    s.startApp({QStringLiteral("--minimized")});
    QVERIFY2(QTest::qWaitFor([&] { return s.daemonReceived(kStatusQuery); }, 20000),
             "the app did not ask the daemon for its status");
    QTest::qWait(4000);
    if (!s.startHost(Host::Sway, &error))
        QFAIL(qPrintable(error));

    QVERIFY2(QTest::qWaitFor([&] { return !s.statusNotifierItem().isEmpty(); }, 20000),
             "no item of the app's in waybar's tray");
    QList<E2eSession::SwayWindow> windows;
    QVERIFY2(
        QTest::qWaitFor([&] { return s.swayAppWindows(&windows) && windows.isEmpty(); }, 15000),
        "the window stayed on the screen");
    QCOMPARE(s.app()->state(), QProcess::Running);
}

KESTRIX_TEST_MAIN(TestE2eDesktops)
#include "tst_e2e_desktops.moc"
