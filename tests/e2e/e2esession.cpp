#include "e2esession.h"

#include "settings/palette.h"

#include "appenvironment.h"
#include "helperprocess.h"
#include "localserving.h"
#include "pipepeer.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <grp.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 20000;

const QString kBusLauncher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
// Debian's python, where python3-pyatspi installs: not whatever is first on PATH.
const QString kPython = QStringLiteral("/usr/bin/python3");
// How long a look for a control waits for it to show, in seconds.
const QString kControlWaitS = QStringLiteral("10");

// What finding controls by role and name needs beyond the desktop, or "".
QString missingForControls()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        return QStringLiteral("dbus-daemon");
    if (!QFileInfo(kBusLauncher).isExecutable())
        return kBusLauncher;
    // Asked once: the answer does not change while the tests run.
    static const bool havePyatspi =
        QProcess::execute(kPython, {QStringLiteral("-I"), QStringLiteral("-c"),
                                    QStringLiteral("import pyatspi")}) == 0;
    if (!havePyatspi)
        return QStringLiteral("pyatspi for ") + kPython;
    return {};
}

} // namespace

E2eSession::E2eSession()
{
    for (const char *sub : {"programdata", "standins"})
        QDir(m_dir.path()).mkdir(QString::fromLatin1(sub));
    // kestrix from a folder of its own: with no daemon executable beside it,
    // the launcher starts no second, hidden daemon.
    m_appPath = privateAppCopy(QStringLiteral(KESTRIX_BINARY), m_dir.path());

    // The browser: records where each page it is handed leads, and opens
    // nothing. The interface hands it the address of a page on the loopback
    // that forwards to the sign-in URL: what is recorded is the page's link,
    // unescaped, or what went wrong when it could not be fetched.
    addStandIn(QStringLiteral("xdg-open"), R"sh(#!/bin/sh
case "$1" in
http://127.0.0.1:*)
    /usr/bin/python3 -I -c '
import html, re, sys, urllib.request
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
try:
    page = opener.open(sys.argv[1], timeout=10).read().decode("utf-8")
    print(html.unescape(re.search("<a href=\"([^\"]*)\"", page).group(1)))
except Exception as e:
    print("unfetched", sys.argv[1], type(e).__name__)
' "$1" ;;
*) printf '%s\n' "$1" ;;
esac >> ")sh" + m_dir.filePath("opened-urls").toUtf8() +
                                               "\"\n");
}

E2eSession::~E2eSession()
{
    const bool failed = QTest::currentTestFailed();
    if (failed)
        keepEvidence();
    for (auto it = m_processes.crbegin(); it != m_processes.crend(); ++it) {
        QProcess *p = *it;
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(3000)) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
        delete p;
    }
    // Whatever the app writes to its error output is a fault nobody looked at.
    const QString errors = appErrors();
    if (!failed && !errors.isEmpty())
        QTest::qFail(qPrintable(QStringLiteral("kestrix wrote to its error output:\n") + errors),
                     __FILE__, __LINE__);
}

bool E2eSession::addStandIn(const QString &name, const QByteArray &script) const
{
    QFile file(m_dir.filePath(QStringLiteral("standins/") + name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(script) != script.size())
        return false;
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString E2eSession::appErrors() const
{
    QFile file(m_dir.filePath(QStringLiteral("kestrix.err")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).trimmed();
}

void E2eSession::keepEvidence()
{
    // Into the build folder: the temporary one goes with the session.
    const QString name =
        QFileInfo(QString::fromLocal8Bit(QTest::currentAppName())).fileName() + u'/' +
        QString::fromLatin1(QTest::currentTestFunction()) +
        (QTest::currentDataTag() ? u'-' + QString::fromLatin1(QTest::currentDataTag()) : QString());
    QString safe = name;
    safe.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_./-]+")), QStringLiteral("_"));
    QDir evidence(QStringLiteral(KESTRIX_E2E_EVIDENCE_DIR) + u'/' + safe);
    evidence.removeRecursively();
    if (!evidence.mkpath(QStringLiteral(".")))
        return;
    if (!m_display.isEmpty()) {
        const QImage shot = screenshot();
        if (!shot.isNull())
            shot.save(evidence.filePath(QStringLiteral("screen.png")));
    }
    const QStringList kept{QStringLiteral("*.log"), QStringLiteral("*.err"),
                           QStringLiteral("opened-urls")};
    for (const QFileInfo &file : QDir(m_dir.path()).entryInfoList(kept, QDir::Files))
        QFile::copy(file.filePath(), evidence.filePath(file.fileName()));
    QFile windows(evidence.filePath(QStringLiteral("windows.txt")));
    if (windows.open(QIODevice::WriteOnly))
        windows.write(describe(appWindows()) + '\n');
    qInfo("logs and a screenshot of the failure are in %s", qPrintable(evidence.path()));
}

QProcessEnvironment E2eSession::environment() const
{
    QProcessEnvironment env = isolatedAppEnvironment(m_dir.path());
    if (m_host == Host::Sway) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    } else {
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    }
    env.insert(QStringLiteral("KESTRIX_PIPE"), m_dir.filePath(QStringLiteral("daemon.sock")));
    env.insert(QStringLiteral("PROGRAMDATA"), m_dir.filePath(QStringLiteral("programdata")));
    const QString standIns = m_dir.filePath(QStringLiteral("standins"));
    env.insert(QStringLiteral("PATH"), standIns + u':' + env.value(QStringLiteral("PATH")));
    env.insert(QStringLiteral("BROWSER"), standIns + QStringLiteral("/xdg-open"));
    env.insert(m_extraEnv);
    for (const QString &name : m_removedEnv)
        env.remove(name);
    return env;
}

QProcess *E2eSession::spawn(const QString &program, const QStringList &args,
                            const QString &outputFile, const QProcessEnvironment &extraEnv)
{
    auto *p = new QProcess;
    QProcessEnvironment env = environment();
    env.insert(extraEnv);
    p->setProcessEnvironment(env);
    if (!outputFile.isEmpty())
        p->setStandardOutputFile(outputFile);
    // Kept for the failure message and the evidence.
    p->setStandardErrorFile(m_dir.filePath(QFileInfo(program).fileName() + QStringLiteral(".err")),
                            QIODevice::Append);
    runAsSessionUser(*p);
    p->start(program, args);
    p->waitForStarted(10000); // so that state() tells running from starting
    m_processes << p;
    return p;
}

QByteArray E2eSession::run(const QString &program, const QStringList &args, int *exitCode) const
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.setStandardErrorFile(QProcess::nullDevice());
    runAsSessionUser(p);
    p.start(program, args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(1000);
        if (exitCode)
            *exitCode = -1;
        return {};
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

void E2eSession::runAsSessionUser(QProcess &process) const
{
    if (m_user < 0) {
        dieWithTest(process);
        return;
    }
    const pid_t test = ::getpid();
    const auto user = static_cast<uid_t>(m_user);
    process.setChildProcessModifier([test, user] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)
            ::_exit(126);
        // After the change of user, which clears it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != test)
            ::_exit(1);
    });
}

bool E2eSession::startDesktop(QString *error, Host host)
{
    if (host == Host::Sway)
        return startSway(error, true);
    // The screen is read back with these, tray or not.
    for (const char *tool : {"xdotool", "import"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            *error = TestDesktop::notInstalled(QString::fromLatin1(tool));
            m_desktopMissing = true;
            return false;
        }
    }
    m_desktop.setLogFolder(m_dir.path());
    const TestDesktop::Result result = m_desktop.start(host == Host::Trayer, error);
    m_desktopMissing = result == TestDesktop::Result::Missing;
    m_display = m_desktop.display();
    if (result != TestDesktop::Result::Started)
        return false;
    m_host = host == Host::Trayer ? Host::Trayer : Host::None;
    if (!startSessionBus(error))
        return false;
    return host == Host::None || host == Host::Trayer || startHost(host, error);
}

bool E2eSession::startSessionBus(QString *error)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
        // Only the controls need it on a plain X desktop.
        m_controlsMissing = TestDesktop::notInstalled(QStringLiteral("dbus-daemon"));
        return true;
    }
    // A session bus that starts no service by itself: what a desktop would
    // have activated (file systems, portals, calendars) would outlive the
    // test. Everything the tests use is started by the session.
    const QString config = m_dir.filePath(QStringLiteral("session-bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                   "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n  <type>session</type>\n  <listen>unix:tmpdir=" +
                   QDir::tempPath().toUtf8() +
                   "</listen>\n  <auth>EXTERNAL</auth>\n"
                   "  <policy context=\"default\">\n"
                   "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                   "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n"
                   "  </policy>\n</busconfig>\n") <= 0) {
        *error = QStringLiteral("cannot write the session bus configuration");
        return false;
    }
    file.close();
    QProcess *bus = spawn(QStringLiteral("dbus-daemon"),
                          {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                           QStringLiteral("--print-address=1")});
    if (!QTest::qWaitFor([&] { return bus->canReadLine(); }, kStartTimeoutMs)) {
        m_controlsFailure = QStringLiteral("the session bus did not start");
        *error = m_controlsFailure;
        return m_host == Host::None || m_host == Host::Trayer;
    }
    setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QString::fromUtf8(bus->readLine().trimmed()));
    m_haveSessionBus = true;
    startAccessibilityBus();
    return true;
}

void E2eSession::startAccessibilityBus()
{
    if (const QString missing = missingForControls(); !missing.isEmpty()) {
        m_controlsMissing = TestDesktop::notInstalled(missing);
        return;
    }
    QProcess *launcher = spawn(kBusLauncher, {QStringLiteral("--launch-immediately")});
    if (launcher->state() != QProcess::Running) {
        m_controlsFailure = QStringLiteral("the accessibility bus did not start");
        return;
    }
    // Qt serves the accessibility bus only to a screen reader it was told of.
    setEnvironment(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
}

bool E2eSession::runControlScript(const QStringList &args, QByteArray *out, const QString &app)
{
    QProcess script;
    script.setProcessEnvironment(environment());
    dieWithTest(script);
    script.start(kPython,
                 QStringList{QStringLiteral("-I"), QStringLiteral(KESTRIX_ATSPI_SCRIPT), app} +
                     args);
    const bool finished = script.waitForFinished(30000);
    if (!finished) {
        script.kill();
        script.waitForFinished(1000);
    }
    *out = script.readAllStandardOutput();
    const QByteArray errors = script.readAllStandardError().trimmed();
    if (finished && script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0)
        return true;
    m_failure = "the control " + args.mid(0, 2).join(u' ').toUtf8() + ": " +
                (finished ? errors.right(500) : QByteArray("the AT-SPI script did not finish"));
    return false;
}

bool E2eSession::findControls(const QString &role, const QString &name, QList<QRect> *where)
{
    const QByteArray control = "the control " + role.toUtf8() + ' ' + name.toUtf8();
    QByteArray out;
    if (!runControlScript({role, name, QStringLiteral("where"), kControlWaitS}, &out))
        return false;
    where->clear();
    for (const QByteArray &line : out.trimmed().split('\n')) {
        const QList<QByteArray> numbers = line.simplified().split(' ');
        const QRect rect = numbers.size() == 4 ? QRect(numbers.at(0).toInt(), numbers.at(1).toInt(),
                                                       numbers.at(2).toInt(), numbers.at(3).toInt())
                                               : QRect();
        if (rect.isEmpty()) {
            m_failure = control + ": no place on the screen in " + out;
            return false;
        }
        *where << rect;
    }
    m_failure.clear();
    return true;
}

bool E2eSession::findControl(const QString &role, const QString &name, QRect *where)
{
    QList<QRect> found;
    if (!findControls(role, name, &found))
        return false;
    if (found.size() != 1) {
        m_failure = "more than one shown control " + role.toUtf8() + ' ' + name.toUtf8();
        return false;
    }
    *where = found.constFirst();
    return true;
}

bool E2eSession::clickControl(const QString &role, const QString &name)
{
    QRect where;
    if (!findControl(role, name, &where))
        return false;
    click(where.center());
    return true;
}

bool E2eSession::pressControl(const QString &role, const QString &name, const QString &action)
{
    QByteArray out;
    if (!runControlScript({role, name, QStringLiteral("press"), action, kControlWaitS}, &out))
        return false;
    m_failure.clear();
    return true;
}

bool E2eSession::startDaemon(const QStringList &args)
{
    m_daemon = spawn(QStringLiteral(KESTRIX_DAEMON_BINARY),
                     QStringList{QStringLiteral("--foreground"), QStringLiteral("--log"),
                                 m_dir.filePath(QStringLiteral("daemon.log"))} +
                         args);
    const QString socket = m_dir.filePath(QStringLiteral("daemon.sock"));
    const bool serving = waitUntilServing(*m_daemon, socket, kStartTimeoutMs);
    m_failure = serving ? QByteArray() : QByteArray("the development daemon did not serve");
    if (!serving) {
        QFile errors(m_dir.filePath(QStringLiteral("kestrix-daemon.err")));
        errors.open(QIODevice::ReadOnly);
        qInfo("development daemon not serving: state %d, exit status %d, code %d, error %s: %s",
              int(m_daemon->state()), int(m_daemon->exitStatus()), m_daemon->exitCode(),
              qPrintable(m_daemon->errorString()), errors.readAll().right(1000).constData());
    }
    return serving;
}

bool E2eSession::setDaemonState(bool authenticated, const QString &killSwitchMode)
{
    QDir dir(m_dir.filePath(QStringLiteral("programdata")));
    if (!dir.mkpath(QStringLiteral("Kestrix")))
        return false;
    QFile file(dir.filePath(QStringLiteral("Kestrix/devdaemon-state.json")));
    return file.open(QIODevice::WriteOnly) &&
           file.write(
               QJsonDocument(QJsonObject{{QStringLiteral("authenticated"), authenticated},
                                         {QStringLiteral("kill_switch_mode"), killSwitchMode}})
                   .toJson()) > 0;
}

bool E2eSession::daemonAnswersPing() const
{
    QFile tokenFile(m_dir.filePath(QStringLiteral("programdata/Kestrix/pipe.token")));
    if (!tokenFile.open(QIODevice::ReadOnly))
        return false;
    Peer peer;
    if (!peer.handshake(m_dir.filePath(QStringLiteral("daemon.sock")),
                        QString::fromUtf8(tokenFile.readAll()).trimmed()))
        return false;
    peer.command(QStringLiteral("ping"));
    return !peer.waitFor(QStringLiteral("pong"), nullptr, kStartTimeoutMs).isEmpty();
}

void E2eSession::killDaemon()
{
    if (m_daemon && m_daemon->state() != QProcess::NotRunning) {
        m_daemon->kill();
        m_daemon->waitForFinished(5000);
    }
}

bool E2eSession::replaceSystemTool(const QString &name, const QByteArray &script, QString *whyNot)
{
    const QString target =
        QStandardPaths::findExecutable(name, {QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (target.isEmpty() || unshare.isEmpty()) {
        *whyNot = TestDesktop::notInstalled(target.isEmpty() ? name : QStringLiteral("unshare"));
        return false;
    }
    if (::geteuid() != 0) {
        *whyNot = QStringLiteral("only root can bind a stand-in over the system's ") + name;
        return false;
    }
    const QString standIn = m_dir.filePath(QStringLiteral("system-") + name);
    QFile file(standIn);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(script) != script.size() ||
        !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        *whyNot = QStringLiteral("cannot write the stand-in for ") + name;
        return false;
    }
    m_systemTools.append({standIn, target});
    return true;
}

QProcess *E2eSession::startApp(const QStringList &args)
{
    if (m_systemTools.isEmpty()) {
        m_app = spawn(m_appPath, args);
        return m_app;
    }
    // Two steps that end in the app itself (same process, so the test still
    // watches the app): a private mount namespace, then the binds in it. The
    // first is named like the app, so that its errors are the app's.
    const auto quoted = [](const QString &path) { return u'\'' + path + u'\''; };
    QByteArray binds = "#!/bin/sh\n";
    for (const auto &[standIn, target] : std::as_const(m_systemTools))
        binds += "mount --bind " + quoted(standIn).toUtf8() + ' ' + quoted(target).toUtf8() +
                 " || exit 97\n";
    binds += "exec " + quoted(m_appPath).toUtf8() + " \"$@\"\n";
    const QString folder = m_dir.filePath(QStringLiteral("namespace"));
    const QString inside = folder + QStringLiteral("/binds");
    const QString outside = folder + QStringLiteral("/kestrix");
    const QByteArray enter = "#!/bin/sh\nexec unshare --mount --propagation private -- " +
                             quoted(inside).toUtf8() + " \"$@\"\n";
    const auto write = [](const QString &path, const QByteArray &text) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(text) == text.size() &&
               file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    if (!QDir().mkpath(folder) || !write(inside, binds) || !write(outside, enter))
        return nullptr;
    m_app = spawn(outside, args);
    return m_app;
}

bool E2eSession::startOtherWindow(const QRect &geometry)
{
    spawn(QStringLiteral(KESTRIX_E2E_OTHER_WINDOW),
          {QString::number(geometry.x()), QString::number(geometry.y()),
           QString::number(geometry.width()), QString::number(geometry.height())});
    return QTest::qWaitFor(
        [&] {
            int code = 1;
            run(QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--name"), QStringLiteral("^Elsewhere$")},
                &code);
            return code == 0;
        },
        kStartTimeoutMs);
}

QList<QByteArray> E2eSession::daemonLog() const
{
    QFile file(m_dir.filePath(QStringLiteral("daemon.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList E2eSession::openedUrls() const
{
    QFile file(m_dir.filePath(QStringLiteral("opened-urls")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QList<E2eSession::Window> E2eSession::appWindows() const
{
    QList<Window> windows;
    m_lookWorked = true;
    if (!m_app || m_app->state() != QProcess::Running)
        return windows;
    int searched = -1;
    const QByteArray ids = run(QStringLiteral("xdotool"),
                               {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                QStringLiteral("--pid"), QString::number(m_app->processId())},
                               &searched);
    // 1 is "none found"; anything else means nothing is known.
    m_lookWorked = searched == 0 || searched == 1;
    for (const QByteArray &id : ids.split('\n')) {
        if (id.trimmed().isEmpty())
            continue;
        int code = 1;
        const QByteArray shell = run(QStringLiteral("xdotool"),
                                     {QStringLiteral("getwindowgeometry"),
                                      QStringLiteral("--shell"), QString::fromLatin1(id.trimmed())},
                                     &code);
        if (code != 0)
            continue; // gone in the meantime
        QHash<QByteArray, int> values;
        for (const QByteArray &line : shell.split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0)
                values.insert(line.left(eq), line.mid(eq + 1).toInt());
        }
        windows.append(
            {id.trimmed().toULongLong(), QRect(values.value("X"), values.value("Y"),
                                               values.value("WIDTH"), values.value("HEIGHT"))});
        if (isOther(windows.constLast()))
            m_seenOthers.insert(windows.constLast().id);
    }
    return windows;
}

E2eSession::Window E2eSession::mainWindow() const
{
    for (const Window &w : appWindows()) {
        if (w.rect.size() == QSize(400, 620))
            return w;
    }
    return {};
}

E2eSession::Window E2eSession::popupWindow() const
{
    for (const Window &w : appWindows()) {
        if (w.rect.size() == QSize(280, 206))
            return w;
    }
    return {};
}

E2eSession::Window E2eSession::trayIcon() const
{
    // The tray sits at the bottom edge. A small window still at the origin is
    // the icon before the tray has taken it in, or another helper window.
    for (const Window &w : appWindows()) {
        if (w.rect.width() <= 64 && w.rect.height() <= 64 && w.rect.top() > 0)
            return w;
    }
    return {};
}

E2eSession::Window E2eSession::waitForTrayIcon(int timeoutMs) const
{
    Window settled;
    QElapsedTimer unchanged;
    const bool found = QTest::qWaitFor(
        [&] {
            const Window icon = trayIcon();
            if (!icon.id || icon.id != settled.id || icon.rect != settled.rect) {
                settled = icon;
                unchanged.start();
                return false;
            }
            return unchanged.elapsed() >= 300;
        },
        timeoutMs);
    return found ? settled : Window{};
}

QByteArray E2eSession::describe(const QList<Window> &windows)
{
    QByteArray text;
    for (const Window &w : windows) {
        text += QByteArray::number(w.id) + " at " + QByteArray::number(w.rect.x()) + ',' +
                QByteArray::number(w.rect.y()) + ' ' + QByteArray::number(w.rect.width()) + 'x' +
                QByteArray::number(w.rect.height()) + "; ";
    }
    return text;
}

bool E2eSession::isOther(const Window &w)
{
    const bool tray = w.rect.width() <= 64 && w.rect.height() <= 64;
    return !tray && w.rect.size() != QSize(400, 620) && w.rect.size() != QSize(280, 206);
}

QList<E2eSession::Window> E2eSession::otherWindows() const
{
    QList<Window> others;
    for (const Window &w : appWindows()) {
        if (isOther(w))
            others << w;
    }
    return others;
}

QImage E2eSession::screenshot() const
{
    return QImage::fromData(
        run(QStringLiteral("import"),
            {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:-")}),
        "PNG");
}

QColor E2eSession::mainPixel(const QPoint &at) const
{
    const Window main = mainWindow();
    if (!main.id)
        return {};
    return screenshot().pixelColor(main.rect.topLeft() + at);
}

int E2eSession::countNear(const QRect &rect, const QColor &colour) const
{
    return countNear(screenshot(), rect, colour);
}

int E2eSession::countNear(const QImage &shot, const QRect &rect, const QColor &colour)
{
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (shot.valid(x, y) && near(shot.pixelColor(x, y), colour))
                ++count;
        }
    }
    return count;
}

bool E2eSession::near(const QColor &a, const QColor &b, int tolerance)
{
    return a.isValid() && b.isValid() && qAbs(a.red() - b.red()) <= tolerance &&
           qAbs(a.green() - b.green()) <= tolerance && qAbs(a.blue() - b.blue()) <= tolerance;
}

void E2eSession::click(const QPoint &screenPos, int button) const
{
    // No --sync: it waits for a motion event, and there is none when the
    // pointer already rests there. The move and the click go out in order.
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(screenPos.x()),
         QString::number(screenPos.y()), QStringLiteral("click"), QString::number(button)});
}

void E2eSession::slowClick(const QPoint &screenPos, int button) const
{
    const QString b = QString::number(button);
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(screenPos.x()),
         QString::number(screenPos.y()), QStringLiteral("mousedown"), b});
    QTest::qWait(100);
    run(QStringLiteral("xdotool"), {QStringLiteral("mouseup"), b});
}

void E2eSession::pressKey(const QString &keysym) const
{
    run(QStringLiteral("xdotool"), {QStringLiteral("key"), keysym});
}

void E2eSession::parkPointer() const
{
    // Mid-screen, away from every panel edge, on no window of the app's.
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QStringLiteral("1000"), QStringLiteral("400")});
}

bool E2eSession::managedAppWindows(QList<qulonglong> *windows) const
{
    windows->clear();
    const QByteArray list =
        run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST")});
    // An empty list has no "#": the window manager keeps it all the same.
    if (!list.startsWith("_NET_CLIENT_LIST(WINDOW)"))
        return false;
    QSet<qulonglong> managed;
    for (const QByteArray &id : list.mid(list.indexOf('#') + 1).split(',')) {
        bool ok = false;
        const qulonglong value = id.trimmed().toULongLong(&ok, 16);
        if (ok)
            managed.insert(value);
    }
    if (!m_app || m_app->state() != QProcess::Running)
        return true;
    const QByteArray ids =
        run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--pid"),
                                        QString::number(m_app->processId())});
    for (const QByteArray &id : ids.split('\n')) {
        if (managed.contains(id.trimmed().toULongLong()))
            *windows << id.trimmed().toULongLong();
    }
    return true;
}

bool E2eSession::startBusMonitor()
{
    if (!m_haveSessionBus ||
        QStandardPaths::findExecutable(QStringLiteral("dbus-monitor")).isEmpty())
        return false;
    const QString log = m_dir.filePath(QStringLiteral("bus-monitor.log"));
    spawn(QStringLiteral("dbus-monitor"),
          {QStringLiteral("--session"),
           QStringLiteral("type='method_call',interface='org.freedesktop.Notifications',"
                          "member='Notify'"),
           QStringLiteral("type='method_return',sender='org.freedesktop.Notifications'"),
           QStringLiteral("type='error',sender='org.freedesktop.Notifications'"),
           QStringLiteral("type='signal',interface='org.kde.StatusNotifierItem'")},
          log);
    // It says it took its place on the bus before anything else.
    return QTest::qWaitFor([&] { return QFileInfo(log).size() > 0; }, kStartTimeoutMs);
}

QByteArray E2eSession::busLog() const
{
    QFile file(m_dir.filePath(QStringLiteral("bus-monitor.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString E2eSession::statusNotifierItem() const
{
    if (!m_haveSessionBus || !m_app || m_app->state() != QProcess::Running)
        return {};
    const auto gdbus = [this](const QString &dest, const QString &path, const QString &method,
                              const QStringList &args) {
        int code = 1;
        const QByteArray out =
            run(QStringLiteral("gdbus"),
                QStringList{QStringLiteral("call"), QStringLiteral("--session"),
                            QStringLiteral("--dest"), dest, QStringLiteral("--object-path"), path,
                            QStringLiteral("--method"), method} +
                    args,
                &code);
        return code == 0 ? QString::fromUtf8(out) : QString();
    };
    const QString items = gdbus(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                QStringLiteral("/StatusNotifierWatcher"),
                                QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                                {QStringLiteral("org.kde.StatusNotifierWatcher"),
                                 QStringLiteral("RegisteredStatusNotifierItems")});
    static const QRegularExpression quoted(QStringLiteral("'([^']+)'"));
    for (auto it = quoted.globalMatch(items); it.hasNext();) {
        // Watchers write "service/path" or "service@/path", or the service alone.
        const QString entry = it.next().captured(1);
        const qsizetype at = entry.indexOf(u'@');
        const qsizetype slash = entry.indexOf(u'/');
        const qsizetype cut = at > 0 ? at : slash;
        const QString service = cut > 0 ? entry.left(cut) : entry;
        const QString path = slash > 0 ? entry.mid(slash) : QStringLiteral("/StatusNotifierItem");
        const QString pid =
            gdbus(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                  QStringLiteral("org.freedesktop.DBus.GetConnectionUnixProcessID"), {service});
        if (pid.contains(QStringLiteral("uint32 %1,").arg(m_app->processId())))
            return service + u' ' + path;
    }
    return {};
}

QString E2eSession::itemProperty(const QString &name) const
{
    const QStringList item = statusNotifierItem().split(u' ');
    if (item.size() != 2)
        return {};
    int code = 1;
    const QString out = QString::fromUtf8(
        run(QStringLiteral("gdbus"),
            {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
             item.at(0), QStringLiteral("--object-path"), item.at(1), QStringLiteral("--method"),
             QStringLiteral("org.freedesktop.DBus.Properties.Get"),
             QStringLiteral("org.kde.StatusNotifierItem"), name},
            &code)
            .trimmed());
    // "(<'Active'>,)"
    if (code != 0 || !out.startsWith(QStringLiteral("(<")) || !out.endsWith(QStringLiteral(">,)")))
        return {};
    return out.mid(2, out.size() - 5);
}

QStringList E2eSession::itemMenu() const
{
    const QStringList item = statusNotifierItem().split(u' ');
    const QString menu = itemProperty(QStringLiteral("Menu"));
    if (item.size() != 2 || !menu.startsWith(QStringLiteral("objectpath '")))
        return {};
    const QString layout = QString::fromUtf8(
        run(QStringLiteral("gdbus"),
            {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
             item.at(0), QStringLiteral("--object-path"), menu.mid(12).chopped(1),
             QStringLiteral("--method"), QStringLiteral("com.canonical.dbusmenu.GetLayout"),
             QStringLiteral("0"), QStringLiteral("int32 -1"), QStringLiteral("[]")}));
    // One "<(id, {properties}, @av [])>" per entry of the top level.
    static const QRegularExpression entry(QStringLiteral("<\\(\\d+, \\{([^}]*)\\}"));
    static const QRegularExpression label(QStringLiteral("'label': <'([^']*)'>"));
    QStringList entries;
    for (auto it = entry.globalMatch(layout); it.hasNext();) {
        const QString properties = it.next().captured(1);
        if (properties.contains(QStringLiteral("'type': <'separator'>"))) {
            entries << QStringLiteral("-");
            continue;
        }
        QString text = label.match(properties).captured(1);
        if (properties.contains(QStringLiteral("'enabled': <false>")))
            text += QStringLiteral(" (off)");
        entries << text;
    }
    return entries;
}

void E2eSession::clickMain(const QPoint &windowPos) const
{
    const Window main = mainWindow();
    if (main.id)
        click(main.rect.topLeft() + windowPos);
}

int E2eSession::findInColumn(int x, int yFrom, int yTo, const QColor &colour) const
{
    const Window main = mainWindow();
    if (!main.id)
        return -1;
    const QImage shot = screenshot();
    for (int y = yFrom; y <= yTo; ++y) {
        if (near(shot.pixelColor(main.rect.topLeft() + QPoint(x, y)), colour))
            return y;
    }
    return -1;
}

bool E2eSession::showsSignedIn() const
{
    // Surface and its alternate differ by a few steps only: compare closely.
    return near(mainPixel(Probe::kSettingsButton), Palette::color(Palette::Role::SurfaceAlt, true),
                2);
}

bool E2eSession::showsLoginScreen() const
{
    const QImage shot = screenshot();
    const Window main = mainWindow();
    return main.id &&
           near(shot.pixelColor(main.rect.topLeft() + Probe::kLanguageEn),
                Palette::color(Palette::Role::Accent, true)) &&
           near(shot.pixelColor(main.rect.topLeft() + Probe::kSettingsButton),
                Palette::color(Palette::Role::Surface, true), 2);
}

bool E2eSession::showsIdleDial() const
{
    return near(mainPixel(Probe::kDialIdleRing), Palette::color(Palette::Role::SurfaceAlt, true),
                2);
}

bool E2eSession::signIn()
{
    const auto fail = [this](const char *why) {
        m_failure = why;
        return false;
    };
    if (!QTest::qWaitFor([&] { return showsLoginScreen(); }, kStartTimeoutMs))
        return fail("sign-in: the login screen did not show");
    const qsizetype urlsBefore = openedUrls().size();
    if (!clickControl(QStringLiteral("push button"), QStringLiteral("Sign in")))
        return false;
    if (!QTest::qWaitFor([&] { return openedUrls().size() > urlsBefore; }, kStartTimeoutMs))
        return fail("sign-in: no page was opened in the browser");
    // Where the hand-off's page led the browser: the daemon's sign-in page.
    static const QRegularExpression daemonPage(
        QStringLiteral("^http://127\\.0\\.0\\.1:\\d+/login/"));
    if (!daemonPage.match(openedUrls().constLast()).hasMatch())
        return fail("sign-in: the page opened is not the daemon's");
    if (!QTest::qWaitFor([&] { return showsSignedIn(); }, kStartTimeoutMs))
        return fail("sign-in: the window did not move on to the signed-in screens");
    m_failure.clear();
    return true;
}
