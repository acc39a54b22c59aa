#include "e2esession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <unistd.h>

// The desktops' own panels as the hosts of the app's tray icon, each started
// on the session's X server and session bus with the session's home,
// configuration and runtime folders, so nothing of the machine's desktop is
// read or written. A panel counts as up once the StatusNotifierWatcher it
// provides is on the bus and its icon area is drawn.

namespace {

// GNOME Shell with software GL, and Plasma loading its modules, need far
// longer on a loaded machine than a lone panel does.
constexpr int kLxqtStartMs = 20000;
constexpr int kGnomeStartMs = 90000;
constexpr int kPlasmaStartMs = 60000;
// A first start of a panel and its window manager on a machine busy with
// other tests' desktops has taken longer than 20 s.
constexpr int kPanelWindowMs = 60000;

// sway runs as nobody when the tests run as root, which it refuses.
constexpr int kNobody = 65534;

const QString kAppIndicator = QStringLiteral("ubuntu-appindicators@ubuntu.com");

bool writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

} // namespace

QString E2eSession::hostName(Host host)
{
    switch (host) {
    case Host::None:
        return QStringLiteral("no tray");
    case Host::Trayer:
        return QStringLiteral("trayer");
    case Host::LxqtPanel:
        return QStringLiteral("lxqt-panel");
    case Host::GnomeShell:
        return QStringLiteral("gnome-shell");
    case Host::Plasma:
        return QStringLiteral("plasma");
    case Host::MatePanel:
        return QStringLiteral("mate-panel");
    case Host::Sway:
        return QStringLiteral("sway");
    }
    return {};
}

bool E2eSession::hostMissing(const QStringList &programs, QString *error)
{
    for (const QString &program : programs) {
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            *error = TestDesktop::notInstalled(program);
            m_desktopMissing = true;
            return true;
        }
    }
    return false;
}

bool E2eSession::startHost(Host host, QString *error)
{
    m_desktopMissing = false;
    if (host == Host::None)
        return true;
    if (host == Host::Trayer) {
        const TestDesktop::Result result = m_desktop.startTray(error);
        m_desktopMissing = result == TestDesktop::Result::Missing;
        m_host = result == TestDesktop::Result::Started ? host : m_host;
        return result == TestDesktop::Result::Started;
    }
    if (hostMissing(
            {QStringLiteral("dbus-daemon"), QStringLiteral("gdbus"), QStringLiteral("xprop")},
            error))
        return false;
    if (!m_haveSessionBus) {
        *error = QStringLiteral("no session bus for the panel: ") + m_controlsFailure;
        return false;
    }
    bool started = false;
    switch (host) {
    case Host::LxqtPanel:
        started = startLxqtPanel(error);
        break;
    case Host::GnomeShell:
        started = startGnomeShell(error);
        break;
    case Host::Plasma:
        started = startPlasma(error);
        break;
    case Host::MatePanel:
        started = startMatePanel(error);
        break;
    case Host::Sway:
        started = startWaybar(error);
        break;
    case Host::None:
    case Host::Trayer:
        break;
    }
    if (started)
        m_host = host;
    return started;
}

QRect E2eSession::hostIconArea() const
{
    switch (m_host) {
    case Host::Trayer: // along the bottom edge, at the right (testdesktop.cpp)
        return {1080, 768, 200, 32};
    case Host::LxqtPanel: // its panel.conf: 32 px along the bottom
        return {0, 768, 1280, 32};
    case Host::GnomeShell:
        // The top bar's right part, where indicators go: the clock in its
        // middle changes by itself.
        return {760, 0, 520, 30};
    case Host::Plasma:
        // Its default panel, 50 px along the bottom: the tray left of the
        // clock, whose time changes by itself, right of the task list.
        return {900, 750, 228, 50};
    case Host::MatePanel: // its default top panel, the notification area near its right end
        return {640, 0, 640, 24};
    case Host::Sway: // read from sway's tree, not the screen
    case Host::None:
        break;
    }
    return {};
}

bool E2eSession::nameHasOwner(const QString &name) const
{
    int code = 1;
    const QByteArray out =
        run(QStringLiteral("gdbus"),
            {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
             QStringLiteral("org.freedesktop.DBus"), QStringLiteral("--object-path"),
             QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("--method"),
             QStringLiteral("org.freedesktop.DBus.NameHasOwner"), name},
            &code);
    return code == 0 && out.contains("true");
}

bool E2eSession::waitForWatcher(QProcess *host, QString *error)
{
    const int timeout = m_host == Host::GnomeShell ? kGnomeStartMs
                        : m_host == Host::Plasma   ? kPlasmaStartMs
                                                   : kLxqtStartMs;
    const bool up = QTest::qWaitFor(
        [&] {
            if (host->state() != QProcess::Running)
                return true;
            return nameHasOwner(QStringLiteral("org.kde.StatusNotifierWatcher"));
        },
        timeout);
    if (up && host->state() == QProcess::Running)
        return true;
    QFile log(m_dir.filePath(QFileInfo(host->program()).fileName() + QStringLiteral(".err")));
    log.open(QIODevice::ReadOnly);
    *error = QStringLiteral("%1 did not provide a StatusNotifierWatcher (%2): %3")
                 .arg(QFileInfo(host->program()).fileName(),
                      host->state() == QProcess::Running ? QStringLiteral("not in time")
                                                         : QStringLiteral("it ended"),
                      QString::fromLocal8Bit(log.readAll().right(800)));
    return false;
}

bool E2eSession::startLxqtPanel(QString *error)
{
    if (hostMissing({QStringLiteral("openbox"), QStringLiteral("lxqt-panel")}, error))
        return false;
    // lxqt-panel reads $XDG_CONFIG_HOME/lxqt/panel.conf: one panel along the
    // bottom with nothing but the status-notifier plugin, which also serves
    // the StatusNotifierWatcher when nobody else does.
    const QString config = environment().value(QStringLiteral("XDG_CONFIG_HOME"));
    if (!writeFile(config + QStringLiteral("/lxqt/panel.conf"),
                   "[General]\n__userfile__=true\n\n"
                   "[panel1]\nplugins=statusnotifier\nposition=Bottom\ndesktop=0\n"
                   "panelSize=32\niconSize=22\n\n"
                   "[statusnotifier]\nalignment=Right\ntype=statusnotifier\n")) {
        *error = QStringLiteral("cannot write panel.conf");
        return false;
    }
    QProcessEnvironment desktop;
    desktop.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("LXQt"));
    spawn(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}, {}, desktop);
    QProcess *panel = spawn(QStringLiteral("lxqt-panel"), {}, {}, desktop);
    m_host = Host::LxqtPanel;
    if (!waitForWatcher(panel, error))
        return false;
    return waitForPanelWindow(QStringLiteral("lxqt-panel"), error);
}

bool E2eSession::waitForPanelWindow(const QString &className, QString *error)
{
    // Its window, and the window manager's list the taskbar reads.
    const bool drawn = QTest::qWaitFor(
        [&] {
            int code = 1;
            run(QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--classname"), className},
                &code);
            QList<qulonglong> ignored;
            return code == 0 && managedAppWindows(&ignored);
        },
        kPanelWindowMs);
    if (!drawn)
        *error =
            className + QStringLiteral(" showed no panel, or no window manager listed windows");
    return drawn;
}

bool E2eSession::startSystemBus(QString *error)
{
    // The desktop must neither reach nor disturb the machine's system bus.
    // Nothing is activated on this one, so each question fails at once.
    const QString runtime = environment().value(QStringLiteral("XDG_RUNTIME_DIR"));
    const QString systemConfig = m_dir.filePath(QStringLiteral("system-bus.conf"));
    if (!writeFile(systemConfig,
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                   "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n  <type>system</type>\n  <listen>unix:dir=" +
                       runtime.toUtf8() +
                       "</listen>\n  <auth>EXTERNAL</auth>\n"
                       "  <policy context=\"default\">\n"
                       "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                       "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
                       "  </policy>\n</busconfig>\n")) {
        *error = QStringLiteral("cannot write the system bus configuration");
        return false;
    }
    QProcess *systemBus = spawn(QStringLiteral("dbus-daemon"),
                                {QStringLiteral("--config-file=") + systemConfig,
                                 QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!QTest::qWaitFor([&] { return systemBus->canReadLine(); }, kLxqtStartMs)) {
        *error = QStringLiteral("the private system bus did not start");
        return false;
    }
    setEnvironment(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                   QString::fromUtf8(systemBus->readLine().trimmed()));
    return true;
}

bool E2eSession::startGnomeShell(QString *error)
{
    if (hostMissing({QStringLiteral("gnome-shell"), QStringLiteral("dconf")}, error))
        return false;
    if (!QFileInfo::exists(QStringLiteral("/usr/share/gnome-shell/extensions/") + kAppIndicator)) {
        *error = TestDesktop::notInstalled(QStringLiteral("gnome-shell-extension-appindicator"));
        m_desktopMissing = true;
        return false;
    }
    const QProcessEnvironment env = environment();
    const QString config = env.value(QStringLiteral("XDG_CONFIG_HOME"));
    const QString runtime = env.value(QStringLiteral("XDG_RUNTIME_DIR"));

    // The settings, compiled straight into the session's own dconf database:
    // the AppIndicator extension on, the desktop never locked or blanked.
    const QString keyfiles = m_dir.filePath(QStringLiteral("dconf-keyfiles"));
    int compiled = 1;
    if (!writeFile(keyfiles + QStringLiteral("/00-test"),
                   "[org/gnome/shell]\nenabled-extensions=['" + kAppIndicator.toUtf8() +
                       "']\ndisable-user-extensions=false\n"
                       "welcome-dialog-last-shown-version='999'\n\n"
                       "[org/gnome/desktop/interface]\ntoolkit-accessibility=true\n\n"
                       "[org/gnome/desktop/session]\nidle-delay=uint32 0\n\n"
                       "[org/gnome/desktop/screensaver]\nlock-enabled=false\n") ||
        !QDir().mkpath(config + QStringLiteral("/dconf")) ||
        (run(QStringLiteral("dconf"),
             {QStringLiteral("compile"), config + QStringLiteral("/dconf/user"), keyfiles},
             &compiled),
         compiled != 0)) {
        *error = QStringLiteral("cannot compile the dconf settings for GNOME Shell");
        return false;
    }
    // Left by a shell that crashed at start-up, it turns every extension off.
    QFile::remove(runtime + QStringLiteral("/gnome-shell-disable-extensions"));

    if (!startSystemBus(error))
        return false;

    QProcessEnvironment desktop;
    desktop.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    desktop.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
    desktop.insert(QStringLiteral("XDG_SESSION_DESKTOP"), QStringLiteral("gnome"));
    QProcess *shell = spawn(
        QStringLiteral("gnome-shell"),
        {QStringLiteral("--x11"), QStringLiteral("--replace"), QStringLiteral("--sm-disable")}, {},
        desktop);
    m_host = Host::GnomeShell;
    if (!waitForWatcher(shell, error))
        return false;

    // It starts in the overview; Escape leaves it for the desktop, where the
    // top bar is black over the wallpaper. Pressed until it shows: a press
    // during the start-up animation is lost.
    // The overview may come only after a first look found the desktop:
    // three looks in a row must find it.
    int looks = 0;
    const bool onDesktop = QTest::qWaitFor(
        [&] {
            pressKey(QStringLiteral("Escape"));
            QTest::qWait(1000);
            const QImage shot = screenshot();
            const bool desktop = !shot.isNull() && near(shot.pixelColor(400, 15), Qt::black, 4) &&
                                 !near(shot.pixelColor(640, 500), shot.pixelColor(400, 15), 20);
            looks = desktop ? looks + 1 : 0;
            return looks >= 3;
        },
        kGnomeStartMs / 2);
    if (!onDesktop) {
        *error = QStringLiteral("GNOME Shell did not leave the overview for the desktop");
        return false;
    }
    return shell->state() == QProcess::Running && startGnomeNotifications(error);
}

bool E2eSession::startPlasma(QString *error)
{
    const QString activities =
        QStringLiteral("/usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd");
    if (hostMissing({QStringLiteral("plasmashell"), QStringLiteral("kwin_x11"),
                     QStringLiteral("kded5"), activities},
                    error) ||
        !startSystemBus(error))
        return false;
    // kded5 serves the StatusNotifierWatcher only in a full Plasma session.
    QProcessEnvironment desktop;
    desktop.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("KDE"));
    desktop.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
    desktop.insert(QStringLiteral("XDG_SESSION_DESKTOP"), QStringLiteral("KDE"));
    desktop.insert(QStringLiteral("KDE_FULL_SESSION"), QStringLiteral("true"));
    desktop.insert(QStringLiteral("KDE_SESSION_VERSION"), QStringLiteral("5"));
    spawn(QStringLiteral("kwin_x11"), {QStringLiteral("--replace")}, {}, desktop);
    QProcess *kded = spawn(QStringLiteral("kded5"), {}, {}, desktop);
    // plasmashell will not load without the activity manager, which a
    // Plasma session bus activates; this one activates nothing. On a busy
    // machine it now and then quits as it starts (seen once in four full
    // runs): it gets one more start, as a session's activation would retry.
    const QString manager = QStringLiteral("org.kde.ActivityManager");
    if (!waitForName(spawn(activities, {}, {}, desktop), manager, error) &&
        !waitForName(spawn(activities, {}, {}, desktop), manager, error))
        return false;
    QProcess *shell =
        spawn(QStringLiteral("plasmashell"), {QStringLiteral("--no-respawn")}, {}, desktop);
    m_host = Host::Plasma;
    return waitForWatcher(kded, error) &&
           waitForPanelWindow(QStringLiteral("plasmashell"), error) &&
           shell->state() == QProcess::Running;
}

bool E2eSession::startMatePanel(QString *error)
{
    const QString applet = QStringLiteral("/usr/lib/mate-panel/notification-area-applet");
    if (hostMissing({QStringLiteral("mate-panel"), QStringLiteral("openbox"), applet}, error) ||
        !startSettingsService(error))
        return false;
    QProcessEnvironment desktop;
    desktop.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("MATE"));
    desktop.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
    spawn(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}, {}, desktop);
    // The panel asks the session bus for its notification area, which a
    // MATE session bus would activate; this one activates nothing, so the
    // applet's factory is there first. The applet serves the
    // StatusNotifierWatcher as well as the X11 tray.
    QProcess *factory = spawn(applet, {}, {}, desktop);
    if (!waitForName(factory, QStringLiteral("org.mate.panel.applet.NotificationAreaAppletFactory"),
                     error))
        return false;
    // Its default layout: the notification area near the right end of the
    // top panel.
    QProcess *panel = spawn(QStringLiteral("mate-panel"), {}, {}, desktop);
    m_host = Host::MatePanel;
    return waitForWatcher(panel, error) && waitForPanelWindow(QStringLiteral("mate-panel"), error);
}

bool E2eSession::startSettingsService(QString *error)
{
    // GSettings writes go to dconf's service, which a session bus activates:
    // without it a panel loses the layout it has just written.
    const QString service = QStringLiteral("/usr/libexec/dconf-service");
    if (hostMissing({service}, error))
        return false;
    return waitForName(spawn(service, {}), QStringLiteral("ca.desrt.dconf"), error);
}

bool E2eSession::waitForName(QProcess *server, const QString &name, QString *error)
{
    const bool up = QTest::qWaitFor(
        [&] { return server->state() != QProcess::Running || nameHasOwner(name); }, kLxqtStartMs);
    if (up && server->state() == QProcess::Running)
        return true;
    *error = QFileInfo(server->program()).fileName() + QStringLiteral(" did not take ") + name;
    return false;
}

bool E2eSession::startSway(QString *error, bool withBar)
{
    if (hostMissing({QStringLiteral("sway"), QStringLiteral("swaymsg"),
                     QStringLiteral("dbus-daemon"), QStringLiteral("gdbus")},
                    error) ||
        (withBar && hostMissing({QStringLiteral("waybar")}, error)))
        return false;
    m_desktopMissing = false;
    if (::getuid() == 0) {
        int code = 1;
        run(QStringLiteral("chown"),
            {QStringLiteral("-R"), QStringLiteral("%1:%1").arg(kNobody), m_dir.path()}, &code);
        if (code != 0) {
            *error = QStringLiteral("cannot hand the session's folder to nobody");
            return false;
        }
        m_user = kNobody;
    }
    m_host = Host::Sway;
    const QProcessEnvironment env = environment();
    const QString runtime = env.value(QStringLiteral("XDG_RUNTIME_DIR"));
    const QString config =
        env.value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/sway/config");
    // The screen of the X desktops; no bar of sway's own.
    if (!writeFile(config, "output HEADLESS-1 resolution 1280x800\n") || !startSessionBus(error))
        return false;
    if (!m_haveSessionBus) {
        *error = QStringLiteral("no session bus for sway: ") + m_controlsFailure;
        return false;
    }
    QProcessEnvironment headless;
    headless.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    headless.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    headless.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    headless.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("sway"));
    QProcess *sway = spawn(QStringLiteral("sway"), {QStringLiteral("-c"), config}, {}, headless);
    QString display;
    QString ipc;
    const bool up = QTest::qWaitFor(
        [&] {
            const QDir dir(runtime);
            const QStringList sockets =
                dir.entryList({QStringLiteral("wayland-*")}, QDir::System)
                    .filter(QRegularExpression(QStringLiteral("^wayland-\\d+$")));
            const QStringList ipcs =
                dir.entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
            display = sockets.value(0);
            ipc = ipcs.isEmpty() ? QString() : dir.filePath(ipcs.constFirst());
            return sway->state() != QProcess::Running || (!display.isEmpty() && !ipc.isEmpty());
        },
        kLxqtStartMs);
    if (!up || sway->state() != QProcess::Running) {
        QFile log(m_dir.filePath(QStringLiteral("sway.err")));
        log.open(QIODevice::ReadOnly);
        *error = QStringLiteral("sway did not start: ") +
                 QString::fromLocal8Bit(log.readAll().right(800));
        return false;
    }
    setEnvironment(QStringLiteral("WAYLAND_DISPLAY"), display);
    setEnvironment(QStringLiteral("SWAYSOCK"), ipc);
    return !withBar || startHost(Host::Sway, error);
}

bool E2eSession::startWaybar(QString *error)
{
    if (hostMissing({QStringLiteral("waybar")}, error))
        return false;
    // A bar along the bottom with nothing but its tray, which also serves
    // the StatusNotifierWatcher when nobody else does.
    const QString config =
        environment().value(QStringLiteral("XDG_CONFIG_HOME")) + QStringLiteral("/waybar/config");
    if (!writeFile(config, "{\"layer\": \"top\", \"position\": \"bottom\", \"height\": 30,\n"
                           " \"modules-right\": [\"tray\"], \"tray\": {\"icon-size\": 22}}\n")) {
        *error = QStringLiteral("cannot write waybar's configuration");
        return false;
    }
    QProcess *bar = spawn(QStringLiteral("waybar"), {QStringLiteral("-c"), config});
    m_host = Host::Sway;
    return waitForWatcher(bar, error);
}

bool E2eSession::swayAppWindows(QList<SwayWindow> *windows) const
{
    windows->clear();
    int code = 1;
    const QJsonDocument tree = QJsonDocument::fromJson(
        run(QStringLiteral("swaymsg"),
            {QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("get_tree")}, &code));
    if (code != 0 || !tree.isObject())
        return false;
    if (!m_app || m_app->state() != QProcess::Running)
        return true;
    const qint64 pid = m_app->processId();
    // Depth first through tiled and floating containers alike.
    QList<QJsonObject> todo{tree.object()};
    while (!todo.isEmpty()) {
        const QJsonObject node = todo.takeLast();
        if (node.value(QStringLiteral("pid")).toInteger() == pid) {
            const QJsonObject r = node.value(QStringLiteral("window_rect")).toObject();
            windows->append(
                {QRect(0, 0, r.value(QStringLiteral("width")).toInt(),
                       r.value(QStringLiteral("height")).toInt()),
                 node.value(QStringLiteral("type")).toString() == QLatin1String("floating_con")});
        }
        for (const char *children : {"nodes", "floating_nodes"}) {
            for (const QJsonValue child : node.value(QLatin1String(children)).toArray())
                todo.append(child.toObject());
        }
    }
    return true;
}

bool E2eSession::waitForNotifications(QProcess *server, const QString &failure, QString *error)
{
    if (waitForName(server, QStringLiteral("org.freedesktop.Notifications"), error))
        return true;
    *error = failure;
    return false;
}

bool E2eSession::startGnomeNotifications(QString *error)
{
    // The shell shows notifications, but org.freedesktop.Notifications is
    // served by a small service of its own that a GNOME session bus
    // activates: it adds the sender's pid, without which the shell answers
    // nothing. This bus activates nothing, so the test starts it.
    const QString service = QStringLiteral("/usr/share/gnome-shell/org.gnome.Shell.Notifications");
    if (!QFileInfo::exists(service)) {
        *error = TestDesktop::notInstalled(service);
        m_desktopMissing = true;
        return false;
    }
    QProcess *server = spawn(QStringLiteral("gjs"), {service},
                             m_dir.filePath(QStringLiteral("gnome-notifications.log")));
    return waitForNotifications(
        server, QStringLiteral("GNOME's notification service did not start"), error);
}

bool E2eSession::startNotificationServer(QString *error)
{
    const QString python = QStringLiteral("/usr/bin/python3");
    if (QProcess::execute(python, {QStringLiteral("-I"), QStringLiteral("-c"),
                                   QStringLiteral("import dbusmock")}) != 0) {
        *error = TestDesktop::notInstalled(QStringLiteral("python3-dbusmock"));
        m_desktopMissing = true;
        return false;
    }
    QProcess *server = spawn(python,
                             {QStringLiteral("-I"), QStringLiteral("-m"),
                              QStringLiteral("dbusmock"), QStringLiteral("--session"),
                              QStringLiteral("--template"), QStringLiteral("notification_daemon")},
                             m_dir.filePath(QStringLiteral("notification-server.log")));
    return waitForNotifications(server, QStringLiteral("the notification server did not start"),
                                error);
}
