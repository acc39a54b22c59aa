#pragma once

#include "ipc/linereader.h"
#include "ipc/reconnectschedule.h"

#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <string>

class DiagnosticsCopier;

// The one link to the daemon, and the observable model of the daemon's state
// that the whole interface binds to. Commands change nothing locally: every
// property changes only when the daemon reports (or the pipe closes).
class PipeClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool authenticated READ authenticated NOTIFY authenticatedChanged)
    Q_PROPERTY(QString vpnState READ vpnState NOTIFY vpnStateChanged)
    Q_PROPERTY(QString vpnIp READ vpnIp NOTIFY vpnStateChanged)
    Q_PROPERTY(QString transport READ transport NOTIFY vpnStateChanged)
    Q_PROPERTY(QString endpoint READ endpoint NOTIFY vpnStateChanged)
    Q_PROPERTY(int attempt READ attempt NOTIFY vpnStateChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY vpnStateChanged)
    Q_PROPERTY(QString killSwitchMode READ killSwitchMode NOTIFY killSwitchChanged)
    Q_PROPERTY(bool updateAvailable READ updateAvailable NOTIFY updateAvailableChanged)
    Q_PROPERTY(QString updateVersion READ updateVersion NOTIFY updateAvailableChanged)
    Q_PROPERTY(bool isUpdating READ isUpdating NOTIFY updating)
    Q_PROPERTY(int updateProgress READ updateProgress NOTIFY updating)
    Q_PROPERTY(bool updateReady READ updateReady NOTIFY updateReadyChanged)
    Q_PROPERTY(double up READ up NOTIFY trafficChanged)
    Q_PROPERTY(double down READ down NOTIFY trafficChanged)
    Q_PROPERTY(double upSpeed READ upSpeed NOTIFY trafficChanged)
    Q_PROPERTY(double downSpeed READ downSpeed NOTIFY trafficChanged)
    Q_PROPERTY(QString connectedSince READ connectedSince NOTIFY trafficChanged)
    // True once a whole quick round of attempts has passed without a completed
    // handshake; false again at the next "ready".
    Q_PROPERTY(bool daemonUnreachable READ daemonUnreachable NOTIFY daemonUnreachableChanged)
    // When the next scheduled attempt starts, in ms since the epoch; 0 while
    // none is waiting (connected, or an attempt under way).
    Q_PROPERTY(double nextAttemptAt READ nextAttemptAt NOTIFY daemonUnreachableChanged)

public:
    explicit PipeClient(QObject *parent = nullptr);

    QString status() const { return m_status; }
    bool authenticated() const { return m_authenticated; }
    QString vpnState() const { return m_vpnState; }
    QString vpnIp() const { return m_vpnIp; }
    QString transport() const { return m_transport; }
    QString endpoint() const { return m_endpoint; }
    int attempt() const { return m_attempt; }
    QString errorText() const { return m_errorText; }
    QString killSwitchMode() const { return m_killSwitchMode; }
    bool updateAvailable() const { return m_updateAvailable; }
    QString updateVersion() const { return m_updateVersion; }
    bool isUpdating() const { return m_isUpdating; }
    int updateProgress() const { return m_updateProgress; }
    bool updateReady() const { return m_updateReady; }
    double up() const { return double(m_up); }
    double down() const { return double(m_down); }
    double upSpeed() const { return m_upSpeed; }
    double downSpeed() const { return m_downSpeed; }
    QString connectedSince() const { return m_connectedSince; }
    bool applyingUpdate() const { return m_applyingUpdate; }
    bool daemonUnreachable() const { return m_daemonUnreachable; }
    double nextAttemptAt() const { return double(m_nextAttemptAt); }

    // Everything the socket delivers goes through here: cut into lines and
    // handled in order. Tests and the fuzzer feed it directly.
    void processIncoming(const QByteArray &bytes);

    // The wall clock behind the speeds, in ms since the epoch; tests replace it.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    // The waits between attempts; tests shorten them.
    void setReconnectTimings(const ReconnectTimings &timings) { m_timings = timings; }

    // The largest diagnostics file copied; tests lower it.
    void setMaxDiagnosticsBytes(qint64 bytes);
    // Run on the copying thread after each chunk of a diagnostics copy; tests pace it.
    void setDiagnosticsAfterChunk(std::function<void()> afterChunk);

    Q_INVOKABLE void connectToPipe();
    // For a user action that needs the daemon: while it is unreachable and no
    // attempt is under way, try at once and start the schedule afresh.
    Q_INVOKABLE void retryNow();
    Q_INVOKABLE void sendPing();
    Q_INVOKABLE void sendLoginStart();
    Q_INVOKABLE void sendLoginCancel();
    Q_INVOKABLE void sendLogout();
    Q_INVOKABLE void sendConnect(bool whitelist = false, bool games = false);
    Q_INVOKABLE void sendDisconnect();
    Q_INVOKABLE void sendStatusQuery();
    Q_INVOKABLE void sendSetKillSwitchMode(const QString &mode);
    Q_INVOKABLE void sendShutdown();
    Q_INVOKABLE void sendGetDiag();
    Q_INVOKABLE void sendInstallUpdate();
    Q_INVOKABLE void sendApplyUpdate();

signals:
    void statusChanged();
    void authenticatedChanged();
    void vpnStateChanged();
    void killSwitchChanged();
    void trafficChanged();
    void versionReceived(QString version);
    void browserOpened(QString loginUrl, QString expiresAt);
    void loginComplete();
    void loginFailed(QString error);
    void loggedOut();
    void diagReady(QString destPath);
    void updateAvailableChanged();
    void updating();
    void updateReadyChanged();
    void restartConfirmed();
    void daemonUnreachableChanged();

private slots:
    void onConnected();
    void onDisconnected();
    void onReadyRead();
    void onError(QLocalSocket::LocalSocketError err);
    void tryReconnect();

private:
    void handleMessage(const QJsonObject &obj);
    void applyStatus(const QJsonObject &obj);
    void handleDiagReady(const QString &diagPath);
    void handleError(const QString &text);
    void updateTraffic(qint64 up, qint64 down, const QString &connectedSince);
    void applyVpnState(const QString &state, const QString &ip, const QString &transport);
    void setStatus(const QString &text);
    // Writes one message if connected; otherwise reports "not connected".
    void sendCommand(const QByteArray &line);
    // For shutdown and apply_update: silent when not connected, and waits up
    // to 500 ms for the bytes to leave because the process is about to end.
    bool sendFinalCommand(const QByteArray &line);
    // Connected, and the handshake went out: a server still being verified
    // counts as not connected, so nothing reaches it before its verdict.
    bool isConnected() const;
    void openSocket();
    // The server is not a daemon we trust: close without a word, count a failed attempt.
    void refuseUnverifiedPeer();
    // An attempt that failed before the socket could report it: retried like a socket error.
    void failAttempt(const QString &statusText);
    // One failure, one retry: a dropped pipe reports an error and then the
    // disconnect, and only the first of them schedules.
    void scheduleReconnect();
    void setReconnectState(bool unreachable, qint64 nextAttemptAt);

    QLocalSocket *m_socket;
    QTimer *m_reconnectTimer;
    QTimer *m_statusPollTimer;
    DiagnosticsCopier *m_diagCopier;
    LineReader m_reader;

    QString m_status = QStringLiteral("disconnected");
    // Retries since the last refill; only a completed handshake refills.
    int m_reconnectAttempts = 0;
    ReconnectTimings m_timings;
    bool m_daemonUnreachable = false;
    qint64 m_nextAttemptAt = 0;
    bool m_suppressReconnect = false;
    bool m_applyingUpdate = false;
    // The server of this connection is trusted and has had the handshake.
    bool m_handshakeSent = false;
    // The "get_diag" requests sent on this connection whose "diag_ready" has
    // not come yet; a copy is made only for one of them.
    int m_diagRequests = 0;
    // The service account this connection's daemon runs as, when it was
    // trusted as the service's own process; its files are diagnostics too.
    std::string m_serviceAccount;
    // Whether an unasked "diag_ready" was already logged since the last request.
    bool m_unaskedDiagLogged = false;

    bool m_authenticated = false;
    QString m_vpnState = QStringLiteral("disconnected");
    QString m_vpnIp;
    QString m_transport;
    QString m_endpoint;
    int m_attempt = 0;
    QString m_errorText;
    QString m_killSwitchMode = QStringLiteral("never");
    bool m_updateAvailable = false;
    QString m_updateVersion;
    bool m_isUpdating = false;
    int m_updateProgress = 0;
    bool m_updateReady = false;
    qint64 m_up = 0;
    qint64 m_down = 0;
    double m_upSpeed = 0;
    double m_downSpeed = 0;
    QString m_connectedSince;
    qint64 m_lastTrafficSampleMs = 0;
    std::function<qint64()> m_clock;
};
