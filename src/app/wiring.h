#pragma once

#include <QList>
#include <QMetaObject>
#include <QString>
#include <QVariantMap>

#include <functional>

class AppSettings;
class PipeClient;
class QCoreApplication;
class QLocalServer;
class QObject;
class TrayManager;

// The string-table key of the balloon for a VPN state, or an empty string when
// the state raises none. Exact, case-sensitive words only.
QString notificationKey(const QString &state);

// Whether quitting the interface should ask the daemon to shut down: only when
// no update is being applied and the kill switch never holds traffic.
bool shouldShutDownDaemon(bool applyingUpdate, const QString &killSwitchMode);

// What the tray tooltip adds while the daemon is out of reach: that it is,
// and when the next attempt starts (local time, or "Connecting…" while one is
// under way). Empty while the daemon is not known to be unreachable.
QString unreachableNote(const QVariantMap &t, bool unreachable, qint64 nextAttemptAtMs);

// The glue between the core objects, which do not know each other. Made in
// two steps of the start-up: the core connections before the interface is
// loaded, the window connections once its root window exists. Every
// connection is undone when the wiring is destroyed.
class Wiring
{
public:
    // Shows a balloon; the tray's by default, replaceable so that tests can
    // watch the decisions without a system tray.
    using Notifier = std::function<void(const QString &title, const QString &message)>;

    Wiring(QCoreApplication &app, PipeClient &pipeClient, TrayManager &tray, AppSettings &settings);
    ~Wiring();
    Wiring(const Wiring &) = delete;
    Wiring &operator=(const Wiring &) = delete;

    // Version and state to the tray (with the state notifications), quit,
    // connect and disconnect requests, sign-in and language for the tray
    // menu, quit hook, the tray's word on an
    // unreachable daemon, and a click on the tray icon as a reason to try the
    // daemon again at once.
    void connectCore();
    // Show, hide and toggle requests, the window's visibility for the tray
    // menu, and a second start.
    void connectInterface(QObject *rootWindow, QLocalServer *singleInstance);

    // Runs on every vpnStateChanged: hands the state to the tray and raises a
    // balloon once per transition into "connected", "reconnecting" or "failed".
    void onVpnStateChanged();
    // Runs once as the event loop ends, whatever the cause of the quit.
    void onAboutToQuit();
    // Runs when the daemon's reachability, its next attempt or the language changes.
    void onReachabilityChanged();

    QString lastNotifiedState() const { return m_lastNotifiedState; }
    void setNotifier(Notifier notifier) { m_notifier = std::move(notifier); }

private:
    QCoreApplication &m_app;
    PipeClient &m_pipeClient;
    TrayManager &m_tray;
    AppSettings &m_settings;
    Notifier m_notifier;
    // The state last seen by the notification handler; empty until the first
    // change, so a tunnel already up at start still shows its balloon.
    QString m_lastNotifiedState;
    QList<QMetaObject::Connection> m_connections;
};
