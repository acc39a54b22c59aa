#include "app/wiring.h"

#include "ipc/pipeclient.h"
#include "settings/appsettings.h"
#include "tray/traymanager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWindow>

QString notificationKey(const QString &state)
{
    if (state == QLatin1String("connected"))
        return QStringLiteral("notifyConnected");
    if (state == QLatin1String("reconnecting"))
        return QStringLiteral("notifyReconnecting");
    if (state == QLatin1String("failed"))
        return QStringLiteral("notifyFailed");
    return {};
}

bool shouldShutDownDaemon(bool applyingUpdate, const QString &killSwitchMode)
{
    return !applyingUpdate && killSwitchMode == QLatin1String("never");
}

QString unreachableNote(const QVariantMap &t, bool unreachable, qint64 nextAttemptAtMs)
{
    if (!unreachable)
        return {};
    const QString when = nextAttemptAtMs > 0
                             ? t.value(QStringLiteral("nextAttemptAt")).toString() + u' ' +
                                   QDateTime::fromMSecsSinceEpoch(nextAttemptAtMs)
                                       .toString(QStringLiteral("HH:mm:ss"))
                             : t.value(QStringLiteral("statusConnecting")).toString();
    return t.value(QStringLiteral("daemonUnreachable")).toString() + u'\n' + when;
}

Wiring::Wiring(QCoreApplication &app, PipeClient &pipeClient, TrayManager &tray,
               AppSettings &settings)
    : m_app(app), m_pipeClient(pipeClient), m_tray(tray), m_settings(settings),
      m_notifier(
          [&tray](const QString &title, const QString &message) { tray.notify(title, message); })
{
}

Wiring::~Wiring()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_connections))
        QObject::disconnect(connection);
}

void Wiring::connectCore()
{
    PipeClient *pipe = &m_pipeClient;
    TrayManager *tray = &m_tray;
    AppSettings *settings = &m_settings;

    m_connections << QObject::connect(pipe, &PipeClient::versionReceived, tray,
                                      &TrayManager::setVersion);
    m_connections << QObject::connect(tray, &TrayManager::quitRequested, &m_app,
                                      &QCoreApplication::quit);
    // The preferences are read when the tray asks, not when it was wired.
    m_connections << QObject::connect(tray, &TrayManager::connectRequested, pipe, [pipe, settings] {
        pipe->sendConnect(settings->whitelist(), settings->games());
    });
    m_connections << QObject::connect(tray, &TrayManager::disconnectRequested, pipe,
                                      &PipeClient::sendDisconnect);
    m_connections << QObject::connect(&m_app, &QCoreApplication::aboutToQuit, pipe,
                                      [this] { onAboutToQuit(); });
    m_connections << QObject::connect(tray, &TrayManager::toggleWindowRequested, pipe,
                                      &PipeClient::retryNow);
    m_connections << QObject::connect(tray, &TrayManager::popupRequested, pipe,
                                      &PipeClient::retryNow);
    m_connections << QObject::connect(pipe, &PipeClient::daemonUnreachableChanged, tray,
                                      [this] { onReachabilityChanged(); });
    m_connections << QObject::connect(settings, &AppSettings::languageChanged, tray,
                                      [this] { onReachabilityChanged(); });
    // The tray's native menu offers what the popup does, in the current language.
    tray->setSignedIn(pipe->authenticated());
    tray->setStrings(settings->t());
    m_connections << QObject::connect(pipe, &PipeClient::authenticatedChanged, tray,
                                      [pipe, tray] { tray->setSignedIn(pipe->authenticated()); });
    m_connections << QObject::connect(settings, &AppSettings::languageChanged, tray,
                                      [settings, tray] { tray->setStrings(settings->t()); });
    // The tray's dot and balloons follow the state whether the window was ever made or not.
    m_connections << QObject::connect(pipe, &PipeClient::vpnStateChanged, tray,
                                      [this] { onVpnStateChanged(); });
}

void Wiring::connectInterface(QObject *rootWindow, QLocalServer *singleInstance)
{
    m_connections << QObject::connect(
        &m_tray, &TrayManager::showRequested, rootWindow,
        [rootWindow] { QMetaObject::invokeMethod(rootWindow, "showAndRaise"); });
    m_connections << QObject::connect(
        &m_tray, &TrayManager::toggleWindowRequested, rootWindow,
        [rootWindow] { QMetaObject::invokeMethod(rootWindow, "toggleWindow"); });
    m_connections << QObject::connect(
        &m_tray, &TrayManager::hideRequested, rootWindow,
        [rootWindow] { QMetaObject::invokeMethod(rootWindow, "hide"); });
    // The menu's first entry opens a window that is hidden or minimised, and
    // hides one that is on screen.
    if (auto *window = qobject_cast<QWindow *>(rootWindow)) {
        TrayManager *tray = &m_tray;
        const auto report = [window, tray] {
            tray->setWindowShown(window->isVisible() && window->visibility() != QWindow::Minimized);
        };
        m_connections << QObject::connect(window, &QWindow::visibilityChanged, tray, report);
        report();
    }
    if (singleInstance) {
        m_connections << QObject::connect(
            singleInstance, &QLocalServer::newConnection, rootWindow, [singleInstance, rootWindow] {
                // Never read: any connection from a second start means "show".
                if (QLocalSocket *peer = singleInstance->nextPendingConnection())
                    peer->deleteLater();
                QMetaObject::invokeMethod(rootWindow, "showAndRaise");
            });
    }
}

void Wiring::onVpnStateChanged()
{
    const QString state = m_pipeClient.vpnState();
    m_tray.setVpnState(state);
    if (state == m_lastNotifiedState)
        return; // only another field changed, or the same state again

    // The table is fetched now, so a language switch shows in the next balloon.
    const QString key = notificationKey(state);
    if (!key.isEmpty() && m_notifier)
        m_notifier(QStringLiteral("Kestrix"), m_settings.t().value(key).toString());
    m_lastNotifiedState = state;
}

void Wiring::onReachabilityChanged()
{
    m_tray.setNote(unreachableNote(m_settings.t(), m_pipeClient.daemonUnreachable(),
                                   qint64(m_pipeClient.nextAttemptAt())));
}

void Wiring::onAboutToQuit()
{
    if (shouldShutDownDaemon(m_pipeClient.applyingUpdate(), m_pipeClient.killSwitchMode()))
        m_pipeClient.sendShutdown();
}
