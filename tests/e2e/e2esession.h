#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QProcess>
#include <QRect>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include "testdesktop.h"

#include <memory>

// Everything an end-to-end test needs, each part real and private to the
// test: an X server and a system tray (testdesktop.h), a session bus with the
// accessibility bus on it, the development daemon with its --log, the real
// kestrix binary (a copy alone in a folder) with its own config, runtime,
// temporary, pipe and program-data folders, and a stand-in browser that
// fetches the loopback page it is handed and records where it leads. Controls
// are found by accessible role and name and clicked with xdotool; the screen
// is read back with xdotool and screenshots, the way a person sees it. Every process it starts dies with
// the test; a failed test leaves its logs and a screenshot in the build
// folder.
class E2eSession
{
public:
    E2eSession();
    ~E2eSession(); // ends every process it started, newest first

    // What shows the app's tray icon: nothing, trayer's XEmbed tray, or a
    // desktop's panel that hosts StatusNotifierItems on the session bus
    // (desktophost.cpp).
    enum class Host
    {
        None,
        Trayer,
        LxqtPanel,  // lxqt-panel with only its status-notifier plugin, under openbox
        GnomeShell, // GNOME Shell on X11 with the AppIndicator extension
        Plasma,     // plasmashell under kwin_x11, kded5 serving the watcher
        MatePanel,  // mate-panel with its notification area, under openbox
        Sway,       // waybar's tray on sway's headless output (Wayland)
    };
    static QString hostName(Host host);

    // Xvfb, the session bus and the host (trayer unless told otherwise);
    // false (with a message) when any cannot start, and then
    // desktopMissing() tells whether a program was not installed.
    bool startDesktop(QString *error, bool withTray = true)
    {
        return startDesktop(error, withTray ? Host::Trayer : Host::None);
    }
    bool startDesktop(QString *error, Host host);
    bool desktopMissing() const { return m_desktopMissing; }
    // sway on a headless output, with waybar along the bottom when withBar
    // (startHost(Host::Sway) brings it later). sway refuses root: run as
    // root, the whole session (buses, daemon, app) runs as nobody. The app
    // is a Wayland client there; windows are read with swaymsg.
    bool startSway(QString *error, bool withBar);
    struct SwayWindow
    {
        QRect rect; // the window's own, without sway's border
        bool floating = false;
    };
    // The app's windows in sway's tree (mapped ones only); false when sway
    // could not be asked.
    bool swayAppWindows(QList<SwayWindow> *windows) const;
    // A panel of that kind on the running desktop, as one that comes after
    // the app (startDesktop(Host::None) first); returns once it hosts items.
    // On failure desktopMissing() tells whether a program was not installed.
    bool startHost(Host host, QString *error);
    Host host() const { return m_host; }
    // A notification server on the session bus where the desktop has none
    // of its own (python3-dbusmock's); false when it did not come, and then
    // desktopMissing() tells whether dbusmock is not installed.
    bool startNotificationServer(QString *error);
    // The strip of the screen where the host shows the icons of its items.
    QRect hostIconArea() const;
    // The one StatusNotifierItem of the app as "service path" (over the
    // session bus, from the host's watcher), or "" while there is none.
    QString statusNotifierItem() const;
    // A property of that item, as gdbus prints its value ("'Active'"), or "".
    QString itemProperty(const QString &name) const;
    // The entries of the item's menu (DBusMenu) as the host reads them, in
    // order: each label, "(off)" after one that is disabled, "-" for a
    // separator.
    QStringList itemMenu() const;
    bool startDaemon(const QStringList &args = {});
    // What the daemon remembers from an earlier run; before startDaemon.
    bool setDaemonState(bool authenticated, const QString &killSwitchMode);
    // Handshake and ping as a client of its own: true once "pong" came.
    bool daemonAnswersPing() const;
    void killDaemon();
    QProcess *startApp(const QStringList &args = {});
    // A variable for every process started from now on (over the defaults).
    void setEnvironment(const QString &name, const QString &value)
    {
        m_extraEnv.insert(name, value);
    }
    // The session's own bus, which every process started gets; "" without one.
    QString sessionBusAddress() const
    {
        return m_extraEnv.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    }
    // And one that no process started from now on gets.
    void removeEnvironment(const QString &name) { m_removedEnv << name; }
    // A window of another program, at the given place, that takes the focus
    // when clicked, as any application does.
    bool startOtherWindow(const QRect &geometry);

    QProcess *app() const { return m_app; }
    // The private copy of kestrix that startApp runs.
    QString appPath() const { return m_appPath; }
    // What the app wrote to its error output so far. A session that ends
    // with anything there fails the test (from cleanup).
    QString appErrors() const;
    // A program of that name, found before any other on the PATH of every
    // process the session starts.
    bool addStandIn(const QString &name, const QByteArray &script) const;
    // A program in place of the system's own tool of that name (in /usr/bin
    // or /bin, where the app looks), for the app and what it starts alone: the
    // app runs in a mount namespace of its own with the stand-in bound over
    // that file. False with the reason when that cannot be had (not root, no
    // such tool to replace); call before startApp.
    bool replaceSystemTool(const QString &name, const QByteArray &script, QString *whyNot);
    QProcess *daemon() const { return m_daemon; }

    // Lines the daemon received, and URLs the browser was asked to open.
    QList<QByteArray> daemonLog() const;
    bool daemonReceived(const QByteArray &line) const { return daemonLog().contains(line); }
    QStringList openedUrls() const;

    struct Window
    {
        qulonglong id = 0;
        QRect rect;
    };
    // The app's visible top-level windows, as the X server sees them.
    QList<Window> appWindows() const;
    // Whether the last look at the windows worked: an empty list from an
    // xdotool that failed proves nothing.
    bool lastLookWorked() const { return m_lookWorked; }
    Window mainWindow() const;  // the 400 x 620 window, or id 0
    Window popupWindow() const; // the 280 x 206 tray popup, or id 0
    Window trayIcon() const;    // the icon docked in the tray, or id 0
    // The icon once it has stayed put in the tray for a moment, or id 0 when
    // it does not within the time. Docking maps it, unmaps it and maps it
    // again: a QTRY on trayIcon() can see it, then miss it on the second
    // look QTRY takes after success, and fail at once.
    Window waitForTrayIcon(int timeoutMs = 20000) const;
    static bool isOther(const Window &w);
    static QByteArray describe(const QList<Window> &windows);
    // Anything else the app shows: balloons.
    QList<Window> otherWindows() const;
    // Every such window that any look at the screen has come across since
    // the last clear: a balloon lives for seconds, between two looks.
    QSet<qulonglong> seenOtherWindows() const { return m_seenOthers; }
    void clearSeenOtherWindows() { m_seenOthers.clear(); }

    QImage screenshot() const;
    // The colour at a point of the main window (window coordinates).
    QColor mainPixel(const QPoint &at) const;
    // How many pixels of the rectangle (screen coordinates) are near colour.
    int countNear(const QRect &rect, const QColor &colour) const;
    static int countNear(const QImage &shot, const QRect &rect, const QColor &colour);
    static bool near(const QColor &a, const QColor &b, int tolerance = 14);

    // The first y (window coordinates) from yFrom to yTo at which the main
    // window shows colour in column x, or -1.
    int findInColumn(int x, int yFrom, int yTo, const QColor &colour) const;

    // Which step of the last failed helper (signIn, startDaemon, the
    // controls) went wrong, for QVERIFY2.
    const char *failure() const { return m_failure.constData(); }

    // The --auto-login delay for a daemon that signs in: time for the stand-in
    // browser to fetch the page it was handed before the sign-in completes and
    // the hand-off closes.
    static inline const QString kAutoLoginSecs = QStringLiteral("1");

    // Signs in the way a person does: the login screen's button (found by
    // its role and name: needs E2E_REQUIRE_CONTROLS), the page
    // opened in the browser (which the daemon approves by itself with
    // --auto-login), and the window moving on to the signed-in screens.
    bool signIn();
    // The title bar shows the settings button only to a signed-in user.
    bool showsSignedIn() const;
    bool showsLoginScreen() const;
    // The main screen, idle and fully faded in (a screen takes no clicks
    // while it fades in).
    bool showsIdleDial() const;

    void click(const QPoint &screenPos, int button = 1) const;
    // A press held for 100 ms, as a hand clicks: some panels take no
    // press and release that come in the same instant.
    void slowClick(const QPoint &screenPos, int button = 1) const;
    void pressKey(const QString &keysym) const;
    // Parks the pointer where it hovers over nothing of a panel's.
    void parkPointer() const;
    // Windows of the app that the window manager lists (the taskbar's
    // list); false when no window manager keeps one.
    bool managedAppWindows(QList<qulonglong> *windows) const;
    // A log of the session bus (dbus-monitor): every notification sent, the
    // answers to calls, the status signals of tray items. Read it with
    // busLog(); bus-monitor.log is kept with a failure's evidence.
    bool startBusMonitor();
    QByteArray busLog() const;
    void clickMain(const QPoint &windowPos) const;

    // Controls found as a screen reader finds them, by accessible role (an
    // AT-SPI role name: "push button", "check box"...) and name, on the
    // session's accessibility bus. Each waits a few seconds for the control
    // to show, and on failure says why in failure().
    // What the accessibility bus lacks ("" when it is all there): a test that
    // uses the calls below skips then (E2E_REQUIRE_CONTROLS); and why it did
    // not start though all was there, which fails the test.
    QString controlsMissing() const { return m_controlsMissing; }
    QString controlsFailure() const { return m_controlsFailure; }
    // Where the shown control is on the screen; false if there is more than one.
    bool findControl(const QString &role, const QString &name, QRect *where);
    // Where every shown control of that role and name is.
    bool findControls(const QString &role, const QString &name, QList<QRect> *where);
    // A click in the middle of the one shown control, as a person clicks it.
    bool clickControl(const QString &role, const QString &name);
    // Invokes one of its actions ("Press", "Toggle"...), as a screen reader does.
    bool pressControl(const QString &role, const QString &name, const QString &action);

    QString root() const { return m_dir.path(); }
    QString display() const { return m_display; }

private:
    // A session bus of the session's own with the accessibility bus launcher
    // on it; the app started afterwards serves its controls there.
    void startAccessibilityBus();
    // Runs the AT-SPI script on the app's interface (or another program's):
    // true when it exited 0, its output in *out.
    bool runControlScript(const QStringList &args, QByteArray *out,
                          const QString &app = QStringLiteral("kestrix"));
    // The session bus every process of the session shares, and the
    // accessibility bus launcher on it when there is one.
    bool startSessionBus(QString *error);
    // desktophost.cpp: each host on the running X server and session bus.
    bool startLxqtPanel(QString *error);
    bool startGnomeShell(QString *error);
    bool startPlasma(QString *error);
    bool startMatePanel(QString *error);
    bool startWaybar(QString *error);
    // Started by spawn and run: as the session's user (nobody under sway
    // run by root), and killed with the test.
    void runAsSessionUser(QProcess &process) const;
    // dconf's service, which a desktop's session bus would activate.
    bool startSettingsService(QString *error);
    // Until the process holds the name on the session bus; false with the
    // reason when it ended first or did not in time.
    bool waitForName(QProcess *server, const QString &name, QString *error);
    // A system bus of the session's own, nothing activatable on it, for
    // desktops that ask it for logind, accounts and the like.
    bool startSystemBus(QString *error);
    // Until a window of that class is shown and the window manager lists
    // windows (the taskbar's list).
    bool waitForPanelWindow(const QString &className, QString *error);
    bool waitForWatcher(QProcess *host, QString *error);
    // GNOME's org.freedesktop.Notifications service, which a GNOME session
    // bus would activate.
    bool startGnomeNotifications(QString *error);
    // Until a notification server holds its name, or has ended (failure).
    bool waitForNotifications(QProcess *server, const QString &failure, QString *error);
    // Whether a program holds the name on the session bus.
    bool nameHasOwner(const QString &name) const;
    bool hostMissing(const QStringList &programs, QString *error);
    // Started with its error output kept in <name>.err, and killed by the
    // kernel if the test dies first.
    QProcess *spawn(const QString &program, const QStringList &args, const QString &outputFile = {},
                    const QProcessEnvironment &extraEnv = {});
    // On failure: a screenshot, every log and the windows, kept in the build
    // folder under the test's name.
    void keepEvidence();
    QByteArray run(const QString &program, const QStringList &args, int *exitCode = nullptr) const;
    QProcessEnvironment environment() const;

    QTemporaryDir m_dir;
    TestDesktop m_desktop; // ended after every process the session started
    bool m_desktopMissing = false;
    QString m_controlsMissing;
    QString m_controlsFailure;
    QString m_appPath;
    QString m_display;
    mutable bool m_lookWorked = true;
    QByteArray m_failure;
    QList<QProcess *> m_processes;
    Host m_host = Host::None;
    int m_user = -1; // the uid every process runs as, or -1 for the test's own
    bool m_haveSessionBus = false;
    QProcess *m_daemon = nullptr;
    QProcess *m_app = nullptr;
    mutable QSet<qulonglong> m_seenOthers;
    QProcessEnvironment m_extraEnv;
    QStringList m_removedEnv;
    // Stand-in and the system file it is bound over, for the app's namespace.
    QList<QPair<QString, QString>> m_systemTools;
};

// The places the tests look at on the main window, from its layout: the
// window is 400 x 620 with a 10 px shadow margin, a 44 px title bar, and the
// screens below it.
namespace Probe {
inline constexpr QPoint kTitleDot{61, 33};        // the VPN-state dot of the title bar
inline constexpr QPoint kSettingsButton{256, 33}; // inside the gear button, left of its glyph
inline constexpr QPoint kLanguageEn{300, 79};    // the login screen's "EN" button, left of its text
inline constexpr QPoint kDialIdleRing{200, 211}; // the top of its ring then
inline constexpr QRect kTrafficTiles{45, 430, 310, 25}; // values of the speed and traffic tiles
} // namespace Probe

// Gives the test a fresh desktop (X server and tray) in `session`; skips the
// test when a tool it needs is not installed.
#define E2E_START_DESKTOP(session) E2E_START_DESKTOP_WITH_TRAY(session, true)
#define E2E_START_DESKTOP_WITH_TRAY(session, withTray)                                             \
    E2E_START_DESKTOP_WITH_HOST(session,                                                           \
                                (withTray) ? E2eSession::Host::Trayer : E2eSession::Host::None)
#define E2E_START_DESKTOP_WITH_HOST(session, host)                                                 \
    do {                                                                                           \
        (session) = std::make_unique<E2eSession>();                                                \
        QString desktopError;                                                                      \
        if (!(session)->startDesktop(&desktopError, (host))) {                                     \
            if ((session)->desktopMissing())                                                       \
                QSKIP(qPrintable(desktopError));                                                   \
            QFAIL(qPrintable(desktopError));                                                       \
        }                                                                                          \
    } while (false)

// Skips the test when controls cannot be found by role and name for want of
// a program (the accessibility bus, pyatspi), fails it when the bus did not
// start.
#define E2E_REQUIRE_CONTROLS(session)                                                              \
    do {                                                                                           \
        if (!(session)->controlsMissing().isEmpty())                                               \
            QSKIP(qPrintable((session)->controlsMissing()));                                       \
        if (!(session)->controlsFailure().isEmpty())                                               \
            QFAIL(qPrintable((session)->controlsFailure()));                                       \
    } while (false)
