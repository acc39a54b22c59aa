#include "ipc/pipeclient.h"

#include "ipc/daemontext.h"
#include "ipc/diagnosticscopier.h"
#include "ipc/pipeendpoint.h"
#include "ipc/protocol.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QSignalBlocker>
#include <QVarLengthArray>

#include <optional>
#include <utility>

#ifdef Q_OS_WIN
#include "ipc/win32pipe.h"
#else
#include "ipc/daemonpeer_unix.h"
#endif

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcPipe, "kestrix.pipe")

namespace {

constexpr int kStatusPollMs = 1500;
constexpr int kFinalWriteWaitMs = 500;
constexpr qint64 kReadBufferBytes = qint64(64) * 1024;
// Samples closer together than this are too noisy to give a speed.
constexpr double kMinSpeedIntervalSec = 0.2;

bool isActiveState(const QString &state)
{
    return state == QLatin1String("connecting") || state == QLatin1String("connected") ||
           state == QLatin1String("reconnecting");
}

} // namespace

PipeClient::PipeClient(QObject *parent)
    : QObject(parent), m_socket(new QLocalSocket(this)), m_reconnectTimer(new QTimer(this)),
      m_statusPollTimer(new QTimer(this)), m_diagCopier(new DiagnosticsCopier(this)),
      m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    // Bounds what one read takes in, and what a server being verified can
    // make us hold at all.
    m_socket->setReadBufferSize(kReadBufferBytes);
    m_reconnectTimer->setSingleShot(true);
    m_reconnectTimer->setInterval(m_timings.quickDelayMs);
    m_statusPollTimer->setInterval(kStatusPollMs);

    connect(m_socket, &QLocalSocket::connected, this, &PipeClient::onConnected);
    connect(m_socket, &QLocalSocket::disconnected, this, &PipeClient::onDisconnected);
    connect(m_socket, &QLocalSocket::readyRead, this, &PipeClient::onReadyRead);
    connect(m_socket, &QLocalSocket::errorOccurred, this, &PipeClient::onError);
    connect(m_reconnectTimer, &QTimer::timeout, this, &PipeClient::tryReconnect);
    connect(m_statusPollTimer, &QTimer::timeout, this, &PipeClient::sendStatusQuery);
    connect(m_diagCopier, &DiagnosticsCopier::copied, this, [this](const QString &destination) {
        setStatus(QStringLiteral("diag saved: ") + destination);
        emit diagReady(destination);
    });
    connect(m_diagCopier, &DiagnosticsCopier::failed, this,
            [this] { setStatus(QStringLiteral("diag copy failed")); });
}

void PipeClient::setMaxDiagnosticsBytes(qint64 bytes)
{
    m_diagCopier->setMaxBytes(bytes);
}

void PipeClient::setDiagnosticsAfterChunk(std::function<void()> afterChunk)
{
    m_diagCopier->setAfterChunk(std::move(afterChunk));
}

// ---- connection lifecycle -------------------------------------------------

void PipeClient::connectToPipe()
{
    // A fresh round: a retry still waiting would only double this attempt.
    m_reconnectTimer->stop();
    m_reconnectAttempts = 0;
    setReconnectState(m_daemonUnreachable, 0);
    if (m_socket->state() != QLocalSocket::UnconnectedState) {
        m_socket->disconnectFromServer();
        if (m_socket->state() != QLocalSocket::UnconnectedState)
            m_socket->abort();
    }
    setStatus(QStringLiteral("connecting..."));
    openSocket();
}

void PipeClient::retryNow()
{
    if (!m_daemonUnreachable || m_socket->state() != QLocalSocket::UnconnectedState)
        return;
    connectToPipe();
}

void PipeClient::tryReconnect()
{
    setReconnectState(m_daemonUnreachable, 0);
    if (m_socket->state() == QLocalSocket::UnconnectedState)
        openSocket();
}

void PipeClient::scheduleReconnect()
{
    if (m_reconnectTimer->isActive())
        return;
    m_reconnectAttempts = ReconnectSchedule::nextRetry(m_reconnectAttempts, m_timings);
    const int delayMs = ReconnectSchedule::delayBeforeRetry(m_reconnectAttempts, m_timings);
    m_reconnectTimer->start(delayMs);
    setReconnectState(m_daemonUnreachable ||
                          ReconnectSchedule::isPastQuickRound(m_reconnectAttempts, m_timings),
                      m_clock() + delayMs);
}

void PipeClient::setReconnectState(bool unreachable, qint64 nextAttemptAt)
{
    if (unreachable == m_daemonUnreachable && nextAttemptAt == m_nextAttemptAt)
        return;
    m_daemonUnreachable = unreachable;
    m_nextAttemptAt = nextAttemptAt;
    emit daemonUnreachableChanged();
}

void PipeClient::openSocket()
{
    // Whatever the last connection was, this one has said nothing and been told nothing.
    m_handshakeSent = false;
    m_diagRequests = 0;
    m_serviceAccount.clear();
#ifdef Q_OS_WIN
    // Qt would open the pipe with full impersonation rights and never ask who
    // serves it: open and verify it ourselves, then hand Qt the handle.
    const Win32::VerifiedPipe pipe =
        Win32::openVerifiedPipe(PipeEndpoint::serverName().toStdWString());
    if (pipe.result == Win32::PipeOpen::Refused) {
        refuseUnverifiedPeer();
        return;
    }
    if (pipe.result != Win32::PipeOpen::Opened) {
        failAttempt(QStringLiteral("error: ") + qt_error_string(int(pipe.error)));
        return;
    }
    if (!m_socket->setSocketDescriptor(qintptr(pipe.handle), QLocalSocket::ConnectedState,
                                       QIODevice::ReadWrite)) {
        // Not adopted, so still ours to close.
        Win32::closePipe(pipe.handle);
        failAttempt(QStringLiteral("error: ") + m_socket->errorString());
        return;
    }
    // An adopted handle does not announce itself as connected.
    onConnected();
#else
    // Only a path no other user can redirect; a refused one is a failed attempt.
    QString refusal;
    if (!DaemonPeer::connectToCheckedEndpoint(m_socket, PipeEndpoint::serverName(), &refusal))
        failAttempt(QStringLiteral("error: ") + refusal);
#endif
}

void PipeClient::refuseUnverifiedPeer()
{
    m_handshakeSent = false;
    {
        // Closed quietly: this is a failed attempt, not a lost connection.
        const QSignalBlocker quiet(m_socket);
        m_socket->abort();
    }
    failAttempt(QStringLiteral("error: daemon identity not verified"));
}

void PipeClient::failAttempt(const QString &statusText)
{
    setStatus(statusText);
    scheduleReconnect();
}

void PipeClient::onConnected()
{
#ifndef Q_OS_WIN
    // The token is a secret: only a daemon running as the system or as this
    // user, or the service's own process, may have it. Checked before anything
    // is read or written; asking systemd comes back here with the answer.
    const auto verdict = DaemonPeer::verifyServer(m_socket, [this] { onConnected(); });
    if (verdict == DaemonPeer::Verdict::Pending)
        return;
    if (verdict == DaemonPeer::Verdict::Refused) {
        refuseUnverifiedPeer();
        return;
    }
    m_serviceAccount = DaemonPeer::serviceAccountOf(m_socket);
#endif
    // A partial line from a dead connection must not be glued to this one's.
    m_reader.clear();
    m_handshakeSent = true;
    setStatus(QStringLiteral("connected — sending handshake"));
    m_socket->write(Protocol::handshake(PipeEndpoint::readToken()));
    m_socket->flush();
}

void PipeClient::onDisconnected()
{
    m_handshakeSent = false;
    // The requests belonged to the connection: a new one will not answer them.
    m_diagRequests = 0;
    m_statusPollTimer->stop();
    if (m_authenticated) {
        m_authenticated = false;
        emit authenticatedChanged();
    }
    applyVpnState(QStringLiteral("disconnected"), QString(), QString());
    if (!m_suppressReconnect)
        scheduleReconnect();
    m_suppressReconnect = false;
    setStatus(QStringLiteral("disconnected"));
}

void PipeClient::onError(QLocalSocket::LocalSocketError)
{
    setStatus(QStringLiteral("error: ") + m_socket->errorString());
    // The daemon closing the pipe after our shutdown request is reported as an
    // error before the disconnect; it must not bring the connection back.
    if (m_suppressReconnect)
        return;
    scheduleReconnect();
}

void PipeClient::onReadyRead()
{
    processIncoming(m_socket->readAll());
}

void PipeClient::processIncoming(const QByteArray &bytes)
{
    // Every line of the read is read before any is handled, so a handler
    // that starts a new connection finds the reader as the read left it.
    QVarLengthArray<QJsonObject, 2> events;
    m_reader.feedLines(bytes, [&events](QByteArrayView line) {
        if (std::optional<QJsonObject> message = LineReader::parseLine(line))
            events.append(std::move(*message));
    });
    for (const QJsonObject &event : events)
        handleMessage(event);
}

// ---- commands -------------------------------------------------------------

bool PipeClient::isConnected() const
{
    return m_handshakeSent && m_socket->state() == QLocalSocket::ConnectedState;
}

void PipeClient::sendCommand(const QByteArray &line)
{
    if (!isConnected()) {
        setStatus(QStringLiteral("not connected"));
        return;
    }
    m_socket->write(line);
    m_socket->flush();
}

bool PipeClient::sendFinalCommand(const QByteArray &line)
{
    if (!isConnected())
        return false;
    m_socket->write(line);
    m_socket->flush();
    if (m_socket->bytesToWrite() > 0)
        m_socket->waitForBytesWritten(kFinalWriteWaitMs);
    return true;
}

void PipeClient::sendPing()
{
    sendCommand(Protocol::command(QStringLiteral("ping")));
}

void PipeClient::sendLoginStart()
{
    sendCommand(Protocol::command(QStringLiteral("login_start")));
}

void PipeClient::sendLoginCancel()
{
    sendCommand(Protocol::command(QStringLiteral("login_cancel")));
}

void PipeClient::sendLogout()
{
    sendCommand(Protocol::command(QStringLiteral("logout")));
}

void PipeClient::sendConnect(bool whitelist, bool games)
{
    sendCommand(Protocol::command(
        QStringLiteral("connect"),
        QJsonObject{{QStringLiteral("whitelist"), whitelist}, {QStringLiteral("games"), games}}));
}

void PipeClient::sendDisconnect()
{
    sendCommand(Protocol::command(QStringLiteral("disconnect")));
}

void PipeClient::sendStatusQuery()
{
    sendCommand(Protocol::command(QStringLiteral("status")));
}

void PipeClient::sendSetKillSwitchMode(const QString &mode)
{
    sendCommand(Protocol::command(QStringLiteral("set_kill_switch"),
                                  QJsonObject{{QStringLiteral("mode"), mode}}));
    // Ask at once so the daemon's answer reports the mode actually in effect.
    sendStatusQuery();
}

void PipeClient::sendShutdown()
{
    if (!isConnected())
        return;
    m_suppressReconnect = true;
    sendFinalCommand(Protocol::command(QStringLiteral("shutdown")));
}

void PipeClient::sendGetDiag()
{
    const bool sent = isConnected();
    sendCommand(Protocol::command(QStringLiteral("get_diag")));
    if (sent) {
        ++m_diagRequests;
        m_unaskedDiagLogged = false;
    }
}

void PipeClient::sendInstallUpdate()
{
    sendCommand(Protocol::command(QStringLiteral("install_update")));
}

void PipeClient::sendApplyUpdate()
{
    if (!isConnected())
        return;
    m_applyingUpdate = true;
    sendFinalCommand(Protocol::command(QStringLiteral("apply_update")));
}

// ---- events ---------------------------------------------------------------

void PipeClient::handleMessage(const QJsonObject &obj)
{
    using namespace Protocol;
    const QJsonValue typeValue = obj.value("type"_L1);
    if (!typeValue.isString())
        return;
    const QString type = typeValue.toString();

    // Every text the interface may show is bounded as it is read.
    if (type == "ready"_L1) {
        const QString version = DaemonText::read(obj, "version"_L1);
        setStatus(QStringLiteral("ready — daemon v") + version);
        // Only a daemon that completed the handshake refills the quick round:
        // one that accepts and closes at once falls through to the slow waits.
        m_reconnectAttempts = 0;
        setReconnectState(false, m_nextAttemptAt);
        emit versionReceived(version);
        sendStatusQuery();
    } else if (type == "pong"_L1) {
        const QString version = DaemonText::read(obj, "version"_L1);
        setStatus(QStringLiteral("pong v") + version);
        emit versionReceived(version);
    } else if (type == "browser_opened"_L1) {
        // The address is not shown: it is checked whole before a browser opens it.
        emit browserOpened(readString(obj, "login_url"_L1), DaemonText::read(obj, "expires_at"_L1));
    } else if (type == "login_complete"_L1) {
        if (!m_authenticated) {
            m_authenticated = true;
            emit authenticatedChanged();
        }
        setStatus(QStringLiteral("authenticated"));
        emit loginComplete();
    } else if (type == "login_failed"_L1) {
        emit loginFailed(DaemonText::read(obj, "error"_L1));
    } else if (type == "logged_out"_L1) {
        if (m_authenticated) {
            m_authenticated = false;
            emit authenticatedChanged();
        }
        applyVpnState(QStringLiteral("disconnected"), QString(), QString());
        setStatus(QStringLiteral("logged out"));
        emit loggedOut();
    } else if (type == "status"_L1) {
        applyStatus(obj);
    } else if (type == "diag_ready"_L1) {
        handleDiagReady(readString(obj, "diag_path"_L1));
    } else if (type == "update_available"_L1) {
        m_updateAvailable = true;
        m_updateVersion = DaemonText::read(obj, "update_version"_L1);
        m_isUpdating = false;
        m_updateProgress = 0;
        m_updateReady = false;
        emit updateAvailableChanged();
        emit updating();
        emit updateReadyChanged();
    } else if (type == "update_progress"_L1) {
        m_isUpdating = true;
        // Per cent: a bar of -5 % or 250 % means nothing to anyone.
        m_updateProgress = qBound(0, readInt(obj, "update_progress"_L1), 100);
        emit updating();
    } else if (type == "update_ready"_L1) {
        m_isUpdating = false;
        m_updateProgress = 100;
        m_updateReady = true;
        emit updating();
        emit updateReadyChanged();
    } else if (type == "updating"_L1) {
        m_isUpdating = true;
        m_updateProgress = 100;
        emit updating();
        if (m_applyingUpdate)
            emit restartConfirmed();
    } else if (type == "error"_L1) {
        handleError(DaemonText::read(obj, "error"_L1));
    }
}

void PipeClient::handleDiagReady(const QString &diagPath)
{
    // Only the answer to our own request is copied, once: a daemon cannot
    // fill the user's folder with files nobody asked for.
    if (m_diagRequests == 0) {
        if (!std::exchange(m_unaskedDiagLogged, true))
            qCInfo(lcPipe) << "ignoring a diagnostics file nobody asked for; "
                              "further ones are ignored quietly";
        return;
    }
    --m_diagRequests;
    m_diagCopier->request(diagPath, m_serviceAccount);
}

void PipeClient::applyStatus(const QJsonObject &obj)
{
    using namespace Protocol;
    // A key that is absent leaves its property alone.
    if (const QJsonValue value = obj.value("authenticated"_L1); !value.isUndefined()) {
        if (const bool authenticated = readBool(value); authenticated != m_authenticated) {
            m_authenticated = authenticated;
            emit authenticatedChanged();
        }
    }
    if (obj.contains("kill_switch_mode"_L1)) {
        if (const QString mode = DaemonText::read(obj, "kill_switch_mode"_L1);
            mode != m_killSwitchMode) {
            m_killSwitchMode = mode;
            emit killSwitchChanged();
        }
    }

    applyVpnState(DaemonText::read(obj, "status"_L1), DaemonText::read(obj, "ip"_L1),
                  DaemonText::read(obj, "transport"_L1));

    bool changed = false;
    if (const QString endpoint = DaemonText::read(obj, "endpoint"_L1); endpoint != m_endpoint) {
        m_endpoint = endpoint;
        changed = true;
    }
    if (const int attempt = readInt(obj, "attempt"_L1); attempt != m_attempt) {
        m_attempt = attempt;
        changed = true;
    }
    if (const QString error = DaemonText::read(obj, "error"_L1); error != m_errorText) {
        m_errorText = error;
        changed = true;
    }
    if (changed)
        emit vpnStateChanged();

    updateTraffic(readCount(obj, "up"_L1), readCount(obj, "down"_L1),
                  DaemonText::read(obj, "connected_since"_L1));
}

void PipeClient::updateTraffic(qint64 up, qint64 down, const QString &connectedSince)
{
    if (up == m_up && down == m_down && connectedSince == m_connectedSince)
        return;

    const qint64 now = m_clock();
    const bool sameConnection = m_lastTrafficSampleMs > 0 && connectedSince == m_connectedSince &&
                                up >= m_up && down >= m_down;
    if (sameConnection) {
        const double dt = double(now - m_lastTrafficSampleMs) / 1000.0;
        if (dt > kMinSpeedIntervalSec) {
            m_upSpeed = double(up - m_up) / dt;
            m_downSpeed = double(down - m_down) / dt;
        }
    } else {
        m_upSpeed = 0;
        m_downSpeed = 0;
    }
    m_lastTrafficSampleMs = now;
    m_up = up;
    m_down = down;
    m_connectedSince = connectedSince;
    emit trafficChanged();
}

void PipeClient::applyVpnState(const QString &state, const QString &ip, const QString &transport)
{
    bool changed = false;
    if (state != m_vpnState) {
        m_vpnState = state;
        changed = true;
    }
    if (!ip.isEmpty() && ip != m_vpnIp) {
        m_vpnIp = ip;
        changed = true;
    }
    if (!transport.isEmpty() && transport != m_transport) {
        m_transport = transport;
        changed = true;
    }
    if (changed)
        emit vpnStateChanged();

    if (isActiveState(m_vpnState)) {
        if (!m_statusPollTimer->isActive())
            m_statusPollTimer->start();
        return;
    }
    m_statusPollTimer->stop();
    if (m_upSpeed != 0 || m_downSpeed != 0 || m_lastTrafficSampleMs != 0) {
        m_upSpeed = 0;
        m_downSpeed = 0;
        m_lastTrafficSampleMs = 0;
        emit trafficChanged();
    }
}

void PipeClient::handleError(const QString &text)
{
    setStatus(QStringLiteral("error: ") + text);
    if (text != m_errorText) {
        m_errorText = text;
        emit vpnStateChanged();
    }
    if ((m_isUpdating || m_applyingUpdate) && text.startsWith(QLatin1String("update "))) {
        m_isUpdating = false;
        m_updateProgress = 0;
        m_applyingUpdate = false;
        emit updating();
    }
}

void PipeClient::setStatus(const QString &text)
{
    if (text == m_status)
        return;
    m_status = text;
    emit statusChanged();
}
