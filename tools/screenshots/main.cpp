// Renders every screen and state of the interface into PNG files, in both
// themes and both languages: the compiled-in qrc:/qml/main.qml on the real
// PipeClient, TrayManager and AppSettings, fed by a scripted in-process daemon.
//
//   kestrix-screenshots [output-folder]     (default: ./screenshots)

#include "scripteddaemon.h"

#include "app/qmlcontext.h"
#include "ipc/pipeclient.h"
#include "settings/appsettings.h"
#include "tray/traymanager.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExtensionPlugin>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>

Q_IMPORT_QML_PLUGIN(qmlPlugin)

namespace {

constexpr qint64 kMiB = qint64{1024} * 1024;

// Runs the event loop until the condition holds or the time is up.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Lets animations (fades, colour changes, the switch knobs) come to rest.
void settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

QQuickItem *findItem(QQuickItem *from, const QString &name)
{
    if (!from)
        return nullptr;
    if (from->objectName() == name)
        return from;
    const QList<QQuickItem *> children = from->childItems();
    for (QQuickItem *child : children)
        if (QQuickItem *found = findItem(child, name))
            return found;
    return nullptr;
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString isoAgo(qint64 seconds)
{
    return QDateTime::currentDateTimeUtc().addSecs(-seconds).toString(Qt::ISODate);
}

// Swallows the sign-in URLs and pages the login screen would hand to a browser.
class UrlSink : public QObject
{
    Q_OBJECT
public slots:
    void open(const QUrl &) {}
};

// One set of pictures: one theme, one language, a fresh interface.
class Renderer
{
public:
    Renderer(const QString &pipePath, const QString &outDir, bool dark, const QString &language)
        : m_outDir(outDir), m_prefix(QStringLiteral("%1-%2-").arg(
                                dark ? QStringLiteral("dark") : QStringLiteral("light"), language))
    {
        m_settings.setDarkTheme(dark);
        m_settings.setLanguage(language);
        m_pipe.setClock([this] { return m_clockMs; });
        m_ok = m_daemon.listen(pipePath);
    }

    bool run();

private:
    bool load();
    bool deliver(const QList<QByteArray> &lines);
    bool deliver(const QByteArray &line) { return deliver(QList<QByteArray>{line}); }
    QByteArray status(const QString &state, QJsonObject fields = {}, bool signedIn = true) const;
    bool connectedSession();
    QQuickItem *item(const QString &name) const { return findItem(m_window->contentItem(), name); }
    QQuickItem *screen() const;
    bool shoot(const QString &name);
    bool shootPopup(const QString &name);
    void scrollSettings(qreal fraction);

    QString m_outDir;
    QString m_prefix;
    bool m_ok = false;
    qint64 m_clockMs = QDateTime::currentMSecsSinceEpoch();
    int m_marker = 0;

    ScriptedDaemon m_daemon;
    PipeClient m_pipe;
    TrayManager m_tray;
    AppSettings m_settings;
    // Last, so that it goes first and no QML object outlives what it binds to.
    QQmlApplicationEngine m_engine;
    QQuickWindow *m_window = nullptr;
};

bool Renderer::load()
{
    publishCoreObjects(m_engine.rootContext(), &m_pipe, &m_tray, &m_settings);
    m_engine.load(QUrl(QStringLiteral("qrc:/qml/main.qml")));
    if (m_engine.rootObjects().isEmpty())
        return false;
    m_window = qobject_cast<QQuickWindow *>(m_engine.rootObjects().constFirst());
    if (!m_window)
        return false;
    QMetaObject::invokeMethod(m_window, "showAndRaise");
    m_pipe.connectToPipe();
    return waitFor([this] { return m_daemon.hasClient() && m_window->isExposed(); });
}

// Sends the lines and waits until the client has handled them all: events are
// handled in order, so a "pong" sent last marks the end.
bool Renderer::deliver(const QList<QByteArray> &lines)
{
    const QString tag = QStringLiteral("marker-%1").arg(++m_marker);
    bool done = false;
    QMetaObject::Connection c = QObject::connect(
        &m_pipe, &PipeClient::versionReceived, [&](const QString &v) { done = done || v == tag; });
    for (const QByteArray &line : lines)
        m_daemon.send(line);
    m_daemon.send(
        json({{QStringLiteral("type"), QStringLiteral("pong")}, {QStringLiteral("version"), tag}}));
    const bool ok = waitFor([&] { return done; });
    QObject::disconnect(c);
    return ok;
}

QByteArray Renderer::status(const QString &state, QJsonObject fields, bool signedIn) const
{
    fields.insert(QStringLiteral("type"), QStringLiteral("status"));
    fields.insert(QStringLiteral("authenticated"), signedIn);
    fields.insert(QStringLiteral("status"), state);
    return json(fields);
}

// A session that has been up for 1 h 23 min, with speeds worked out by the
// client from two samples 1.5 s apart on its own clock.
bool Renderer::connectedSession()
{
    const QString since = isoAgo(83 * 60 + 17);
    auto sample = [&](qint64 up, qint64 down) {
        return status(QStringLiteral("connected"),
                      {{QStringLiteral("endpoint"), QStringLiteral("185.12.44.7:443")},
                       {QStringLiteral("ip"), QStringLiteral("10.8.0.14")},
                       {QStringLiteral("kill_switch_mode"), QStringLiteral("always")},
                       {QStringLiteral("up"), double(up)},
                       {QStringLiteral("down"), double(down)},
                       {QStringLiteral("connected_since"), since}});
    };
    const qint64 up = 48 * kMiB + qint64{311} * 1024;
    const qint64 down = 1946 * kMiB + qint64{77} * 1024;
    if (!deliver(sample(up, down)))
        return false;
    m_clockMs += 1500;
    return deliver(sample(up + qint64{1500} * 182, down + qint64{1500} * 5734));
}

QQuickItem *Renderer::screen() const
{
    QQuickItem *content = item(QStringLiteral("content"));
    return content ? content->property("item").value<QQuickItem *>() : nullptr;
}

bool Renderer::shoot(const QString &name)
{
    QObject *fade = item(QStringLiteral("content"))->findChild<QObject *>(QStringLiteral("fade"));
    waitFor([fade] { return !fade->property("running").toBool(); });
    settle(300);
    const QString path = QDir(m_outDir).filePath(m_prefix + name + QStringLiteral(".png"));
    if (!m_window->grabWindow().save(path)) {
        QTextStream(stderr) << "cannot write " << path << '\n';
        return false;
    }
    QTextStream(stdout) << path << '\n';
    return true;
}

bool Renderer::shootPopup(const QString &name)
{
    QVariant made; // the popup window is made on its first use
    QMetaObject::invokeMethod(m_window, "trayPopupWindow", Q_RETURN_ARG(QVariant, made));
    auto *popup = qobject_cast<QQuickWindow *>(made.value<QObject *>());
    if (!popup)
        return false;
    QMetaObject::invokeMethod(popup, "openAt", Q_ARG(QVariant, 700), Q_ARG(QVariant, 760));
    if (!waitFor([popup] { return popup->isVisible() && popup->isExposed(); }))
        return false;
    settle(300);
    const QString path = QDir(m_outDir).filePath(m_prefix + name + QStringLiteral(".png"));
    const bool saved = popup->grabWindow().save(path);
    popup->hide();
    if (saved)
        QTextStream(stdout) << path << '\n';
    return saved;
}

void Renderer::scrollSettings(qreal fraction)
{
    QQuickItem *settings = screen();
    const qreal range = settings->property("contentHeight").toReal() - settings->height();
    settings->setProperty("contentY", qMax<qreal>(0, range) * fraction);
}

bool Renderer::run()
{
    if (!m_ok || !load())
        return false;
    m_tray.setVersion(QStringLiteral("1.8.3"));

    // Signed out: the login screen in each of its states.
    bool ok = deliver(status(QStringLiteral("disconnected"), {}, false)) &&
              shoot(QStringLiteral("login-idle"));
    const QList<QPair<int, QString>> countdowns = {{272000, QStringLiteral("login-waiting-green")},
                                                   {95000, QStringLiteral("login-waiting-amber")},
                                                   {42000, QStringLiteral("login-waiting-red")},
                                                   {0, QStringLiteral("login-expired")}};
    for (const auto &[remaining, name] : countdowns) {
        QQuickItem *login = screen();
        login->setProperty("loginUrl",
                           QStringLiteral("https://id.kestrix.example/device?code=KX-4821"));
        login->setProperty("waitingForBrowser", true);
        login->setProperty("remainingMs", remaining);
        ok = ok && shoot(name);
    }
    // A sign-in page that could not be opened: the sign-in button, and why.
    if (QQuickItem *login = screen()) {
        login->setProperty("waitingForBrowser", false);
        login->setProperty("remainingMs", 0);
        login->setProperty("pageFailed", true);
    }
    ok = ok && shoot(QStringLiteral("login-page-failed"));
    ok = ok && shootPopup(QStringLiteral("tray-signed-out"));

    // Signed in: the main screen.
    ok = ok && deliver(status(QStringLiteral("disconnected"))) &&
         shoot(QStringLiteral("main-disconnected"));
    ok = ok &&
         deliver(status(QStringLiteral("disconnected"),
                        {{QStringLiteral("error"),
                          QStringLiteral("The server did not answer within 15 seconds")},
                         {QStringLiteral("kill_switch_mode"), QStringLiteral("on_connect")}})) &&
         shoot(QStringLiteral("main-disconnected-error"));
    ok = ok && deliver(status(QStringLiteral("connecting"))) &&
         shoot(QStringLiteral("main-connecting"));
    ok = ok && deliver(status(QStringLiteral("reconnecting"), {{QStringLiteral("attempt"), 3}})) &&
         shoot(QStringLiteral("main-reconnecting"));
    ok = ok && connectedSession() && shoot(QStringLiteral("main-connected"));
    if (QQuickItem *server = item(QStringLiteral("serverValue")))
        server->setProperty("revealed", true);
    ok = ok && shoot(QStringLiteral("main-connected-revealed"));
    ok = ok && shootPopup(QStringLiteral("tray-connected"));

    // The error screen, with the default text and with the daemon's.
    ok = ok && deliver(status(QStringLiteral("failed"))) && shoot(QStringLiteral("error-default"));
    ok = ok &&
         deliver(status(
             QStringLiteral("failed"),
             {{QStringLiteral("error"),
               QStringLiteral(
                   "TLS handshake with 185.12.44.7:443 failed: connection reset by peer")}})) &&
         shoot(QStringLiteral("error-daemon-text"));
    QString longError;
    while (longError.size() < 2000)
        longError += QStringLiteral("relay 185.12.44.7:443 refused the tunnel: no route to host ");
    ok = ok &&
         deliver(
             status(QStringLiteral("failed"), {{QStringLiteral("error"), longError.trimmed()}})) &&
         shoot(QStringLiteral("error-long-text"));

    // Settings, at the top and at the bottom, then the update banner's course.
    ok = ok && connectedSession();
    m_window->setProperty("screen", QStringLiteral("settings"));
    ok = ok && shoot(QStringLiteral("settings-top"));
    scrollSettings(1.0);
    ok = ok && shoot(QStringLiteral("settings-bottom"));
    // A saved report: its name, and the folder to look in, on a long path.
    emit m_pipe.diagReady(
        QStringLiteral("/home/anastasia.kuznetsova/Desktop/kestrix-diag-20261211-031500-042.zip"));
    ok = ok && shoot(QStringLiteral("settings-diag-saved"));
    const QList<QPair<QByteArray, QString>> updates = {
        {json({{QStringLiteral("type"), QStringLiteral("update_available")},
               {QStringLiteral("update_version"), QStringLiteral("1.9.0")}}),
         QStringLiteral("settings-update-available")},
        {json({{QStringLiteral("type"), QStringLiteral("update_progress")},
               {QStringLiteral("update_progress"), 64}}),
         QStringLiteral("settings-update-downloading")},
        {json({{QStringLiteral("type"), QStringLiteral("update_ready")}}),
         QStringLiteral("settings-update-ready")},
        {json({{QStringLiteral("type"), QStringLiteral("updating")}}),
         QStringLiteral("settings-update-installing")},
    };
    for (const auto &[event, name] : updates) {
        ok = ok && deliver(event);
        scrollSettings(1.0);
        ok = ok && shoot(name);
    }
    // Back on the main screen the gear carries the update badge.
    m_window->setProperty("screen", QStringLiteral("main"));
    ok = ok && shoot(QStringLiteral("main-update-badge"));

    // The daemon gone for longer than the quick round: the login screen says
    // so and offers to try at once.
    ReconnectTimings quickRound;
    quickRound.quickDelayMs = 20;
    quickRound.backoffMs = {};
    quickRound.steadyDelayMs = 600000;
    m_pipe.setReconnectTimings(quickRound);
    m_daemon.stop();
    ok = ok && waitFor([this] { return m_pipe.daemonUnreachable(); }) &&
         shoot(QStringLiteral("login-unreachable"));

    QMetaObject::invokeMethod(m_window, "hide");
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    // Headless by default, and never the user's own settings, token or desktop.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir isolation;
    qputenv("XDG_CONFIG_HOME", (isolation.path() + QStringLiteral("/config")).toUtf8());
    qputenv("HOME", (isolation.path() + QStringLiteral("/home")).toUtf8());
    qputenv("PROGRAMDATA", (isolation.path() + QStringLiteral("/programdata")).toUtf8());
    const QString pipePath = isolation.path() + QStringLiteral("/kestrix.sock");
    qputenv("KESTRIX_PIPE", pipePath.toUtf8());

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrix"));
    QApplication::setOrganizationName(QStringLiteral("Kest"));
    QApplication::setQuitOnLastWindowClosed(false);

    const QStringList args = QApplication::arguments();
    const QString outDir = args.size() > 1 ? args.at(1) : QStringLiteral("screenshots");
    if (!QDir().mkpath(outDir)) {
        QTextStream(stderr) << "cannot create " << outDir << '\n';
        return 1;
    }

    UrlSink sink;
    for (const QString &scheme :
         {QStringLiteral("https"), QStringLiteral("http"), QStringLiteral("file")})
        QDesktopServices::setUrlHandler(scheme, &sink, "open");

    bool ok = true;
    for (const bool dark : {true, false}) {
        for (const QString &language : {QStringLiteral("en"), QStringLiteral("ru")}) {
            Renderer renderer(pipePath, outDir, dark, language);
            if (!renderer.run()) {
                QTextStream(stderr)
                    << "rendering " << (dark ? "dark" : "light") << '/' << language << " failed\n";
                ok = false;
            }
        }
    }
    for (const QString &scheme :
         {QStringLiteral("https"), QStringLiteral("http"), QStringLiteral("file")})
        QDesktopServices::unsetUrlHandler(scheme);
    return ok ? 0 : 1;
}

#include "main.moc"
