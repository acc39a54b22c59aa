#include "devdaemon.h"

#include "clientsession.h"
#include "ipc/pipeendpoint.h"
#include "ipc/protocol.h"
#include "storedzip.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QSignalBlocker>
#include <QTemporaryDir>

namespace {

constexpr int kLoginLifetimeSecs = 5 * 60;
constexpr int kUpdateTickMs = 120;
constexpr int kJournalEntries = 200;
constexpr int kProbeMs = 300;
constexpr qint64 kMaxStateBytes = 4096;

const QString kDaemonVersion = QStringLiteral(KESTRIX_DEVDAEMON_VERSION);

QJsonObject makeEvent(const QString &type)
{
    return QJsonObject{{QStringLiteral("type"), type}};
}

QJsonObject errorEvent(const QString &text)
{
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("error")},
                       {QStringLiteral("error"), text}};
}

QString utcNow(qint64 plusSecs = 0)
{
    return QDateTime::currentDateTimeUtc().addSecs(plusSecs).toString(Qt::ISODate);
}

bool isKillSwitchMode(const QString &mode)
{
    return mode == QLatin1String("never") || mode == QLatin1String("on_connect") ||
           mode == QLatin1String("always");
}

} // namespace

DevDaemon::DevDaemon(const DaemonOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_vpn({options.connectDelayMs, options.dropEveryMs,
                                                  options.failConnectText, options.failCount})
{
    connect(&m_server, &QLocalServer::newConnection, this, &DevDaemon::onNewConnection);
    connect(&m_vpn, &VpnSimulator::changed, this, [this] { broadcast(statusEvent()); });
    connect(&m_script, &EventScript::line, this, &DevDaemon::broadcastLine);

    m_loginExpiry.setSingleShot(true);
    connect(&m_loginExpiry, &QTimer::timeout, this, [this] {
        m_autoLogin.stop();
        m_loginPage.close();
        QJsonObject failed = makeEvent(QStringLiteral("login_failed"));
        failed.insert(QStringLiteral("error"), QStringLiteral("sign-in link expired"));
        broadcast(failed);
    });
    m_autoLogin.setSingleShot(true);
    connect(&m_autoLogin, &QTimer::timeout, &m_loginPage, &LoginPage::approved);
    connect(&m_loginPage, &LoginPage::approved, this, [this] {
        m_loginExpiry.stop();
        m_autoLogin.stop();
        m_loginPage.close();
        setAuthenticated(true);
    });
    connect(&m_loginPage, &LoginPage::declined, this, [this] {
        m_loginExpiry.stop();
        m_autoLogin.stop();
        QJsonObject failed = makeEvent(QStringLiteral("login_failed"));
        failed.insert(QStringLiteral("error"), QStringLiteral("sign-in declined in the browser"));
        broadcast(failed);
    });

    m_updateTimer.setInterval(kUpdateTickMs);
    connect(&m_updateTimer, &QTimer::timeout, this, [this] {
        m_updateProgress =
            qMin(100, m_updateProgress + 4 + int(QRandomGenerator::global()->bounded(5)));
        QJsonObject progress = makeEvent(QStringLiteral("update_progress"));
        progress.insert(QStringLiteral("update_progress"), m_updateProgress);
        broadcast(progress);
        if (m_updateProgress == 100) {
            m_updateTimer.stop();
            m_update = Update::Ready;
            broadcast(makeEvent(QStringLiteral("update_ready")));
        }
    });

    if (!m_options.offerUpdateVersion.isEmpty())
        m_update = Update::Offered;
}

DevDaemon::~DevDaemon()
{
    m_server.close(); // removes the socket file
}

bool DevDaemon::start(QString *error)
{
    if (!m_options.logPath.isEmpty()) {
        m_log.setFileName(m_options.logPath);
        if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append)) {
            *error = QStringLiteral("cannot open log %1: %2")
                         .arg(m_options.logPath, m_log.errorString());
            return false;
        }
    }
    if (!m_options.scriptPath.isEmpty() && !m_script.load(m_options.scriptPath, error))
        return false;

    // A live daemon keeps its endpoint and its token: taking them over would
    // cut off its clients. (The launcher may start us while one runs.)
    {
        QLocalSocket probe;
        probe.connectToServer(m_options.socketName);
        if (probe.waitForConnected(kProbeMs)) {
            *error = QStringLiteral("a daemon already serves %1").arg(m_options.socketName);
            return false;
        }
    }

    if (!openFolders(error) || !writeToken(error))
        return false;
    loadState();
    if (!m_loginPage.listen(error))
        return false;

    QLocalServer::removeServer(m_options.socketName); // a stale socket from a killed run
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_options.socketName)) {
        *error =
            QStringLiteral("cannot serve %1: %2").arg(m_options.socketName, m_server.errorString());
        return false;
    }
    journal(QStringLiteral("serving %1").arg(m_options.socketName));
    return true;
}

bool DevDaemon::openFolders(QString *error)
{
    // The token is the pipe's one secret, and a folder that others may write
    // into lets them plant links under our names: only a folder of this user
    // that nobody else may write into will do.
    const QString tokenPath = PipeEndpoint::tokenFilePath();
    const QString dataFolder =
        tokenPath.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(tokenPath).absolutePath());
    if (!dataFolder.isEmpty() && !m_dataFolder.open(dataFolder, OwnedFolder::Check::Private, error))
        return false;
    if (m_options.statePath.isEmpty())
        return true;
    // A file named with --state goes where the user said.
    const QString stateFolder = QDir::cleanPath(QFileInfo(m_options.statePath).absolutePath());
    return m_stateFolder.open(
        stateFolder,
        stateFolder == dataFolder ? OwnedFolder::Check::Private : OwnedFolder::Check::Any, error);
}

bool DevDaemon::writeToken(QString *error)
{
    if (!m_dataFolder.isOpen())
        return true; // without PROGRAMDATA the handshake carries an empty token
    m_token = QString::number(QRandomGenerator::system()->generate64(), 16) +
              QString::number(QRandomGenerator::system()->generate64(), 16);
    // A new file renamed into place: readable by this user only from the first
    // byte, and a link left under the name is replaced, not written through.
    return m_dataFolder.replace(QFileInfo(PipeEndpoint::tokenFilePath()).fileName(),
                                m_token.toUtf8() + '\n', error);
}

void DevDaemon::loadState()
{
    if (!m_stateFolder.isOpen())
        return;
    const std::optional<QByteArray> text =
        m_stateFolder.read(QFileInfo(m_options.statePath).fileName(), kMaxStateBytes);
    if (!text)
        return;
    const QJsonObject state = QJsonDocument::fromJson(*text).object();
    m_authenticated = Protocol::readBool(state, QLatin1StringView("authenticated"));
    const QString mode = Protocol::readString(state, QLatin1StringView("kill_switch_mode"));
    if (isKillSwitchMode(mode))
        m_killSwitchMode = mode;
}

void DevDaemon::saveState() const
{
    if (!m_stateFolder.isOpen())
        return;
    QString error;
    m_stateFolder.replace(
        QFileInfo(m_options.statePath).fileName(),
        QJsonDocument(QJsonObject{{QStringLiteral("authenticated"), m_authenticated},
                                  {QStringLiteral("kill_switch_mode"), m_killSwitchMode}})
            .toJson(),
        &error);
}

void DevDaemon::onNewConnection()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        auto *session = new ClientSession(socket, m_options.handshakeTimeoutMs, this);
        if (m_sessions.size() >= m_options.maxClients) {
            connect(session, &ClientSession::closed, session, &QObject::deleteLater);
            session->reject(errorEvent(QStringLiteral("too many clients")));
            journal(QStringLiteral("client turned away: too many clients"));
            continue;
        }
        m_sessions.append(session);
        connect(session, &ClientSession::lineReceived, this,
                [this, session](const QByteArray &raw, const QJsonObject &object, bool isObject) {
                    onLine(session, raw, object, isObject);
                });
        connect(session, &ClientSession::closed, this, [this, session] {
            m_sessions.removeAll(session);
            session->deleteLater();
        });
        journal(QStringLiteral("client connected"));
    }
}

void DevDaemon::onLine(ClientSession *session, const QByteArray &raw, const QJsonObject &object,
                       bool isObject)
{
    const QByteArray recorded = withoutSecrets(raw, object, isObject);
    if (m_log.isOpen()) {
        m_log.write(recorded + '\n');
        m_log.flush();
    }
    if (m_stopping)
        return;
    journal(QStringLiteral("<- %1").arg(QString::fromUtf8(recorded.left(300))));
    if (!session->isReady()) {
        handshake(session, object, isObject);
    } else if (isObject) {
        command(session, object);
    }
    // Anything else after the handshake is noise: dropped, as the client does.
}

QByteArray DevDaemon::withoutSecrets(const QByteArray &raw, const QJsonObject &object,
                                     bool isObject) const
{
    QByteArray line = raw;
    // A handshake's token, right or wrong, becomes a fingerprint: enough to
    // tell two tokens apart, useless for speaking to the daemon.
    if (isObject && object.contains(QStringLiteral("token"))) {
        QJsonObject shown = object;
        const QByteArray token = object.value(QStringLiteral("token")).toString().toUtf8();
        shown.insert(
            QStringLiteral("token"),
            QStringLiteral("redacted:") +
                QString::fromLatin1(
                    QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex().left(8)));
        line = QJsonDocument(shown).toJson(QJsonDocument::Compact);
    }
    // The token anywhere else in a line, as sent by mistake or on purpose.
    if (!m_token.isEmpty())
        line.replace(m_token.toUtf8(), QByteArrayLiteral("[redacted]"));
    return line;
}

void DevDaemon::handshake(ClientSession *session, const QJsonObject &object, bool isObject)
{
    if (!isObject)
        return session->reject(errorEvent(QStringLiteral("handshake expected")));
    if (object.value(QStringLiteral("magic")) != QLatin1String(Protocol::kMagic))
        return session->reject(errorEvent(QStringLiteral("handshake rejected: bad magic")));
    const QJsonValue version = object.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != Protocol::kVersion)
        return session->reject(
            errorEvent(QStringLiteral("handshake rejected: unsupported protocol version")));
    const QJsonValue token = object.value(QStringLiteral("token"));
    if (!token.isString() || token.toString() != m_token)
        return session->reject(errorEvent(QStringLiteral("handshake rejected: bad token")));

    session->setReady();
    QJsonObject ready = makeEvent(QStringLiteral("ready"));
    ready.insert(QStringLiteral("version"), kDaemonVersion);
    session->send(ready);
    if (m_update != Update::None && m_update != Update::Applying) {
        QJsonObject offer = makeEvent(QStringLiteral("update_available"));
        offer.insert(QStringLiteral("update_version"), m_options.offerUpdateVersion);
        offer.insert(QStringLiteral("update_url"),
                     QStringLiteral("https://updates.kestrix.test/desktop/%1")
                         .arg(m_options.offerUpdateVersion));
        session->send(offer);
        if (m_update == Update::Ready)
            session->send(makeEvent(QStringLiteral("update_ready")));
    }
    m_script.start();
}

void DevDaemon::command(ClientSession *session, const QJsonObject &object)
{
    const QString cmd = Protocol::readString(object, QLatin1StringView("cmd"));
    const QJsonObject payload = object.value(QStringLiteral("payload")).toObject();

    if (cmd == QLatin1String("ping")) {
        QJsonObject pong = makeEvent(QStringLiteral("pong"));
        pong.insert(QStringLiteral("version"), kDaemonVersion);
        session->send(pong);
    } else if (cmd == QLatin1String("status")) {
        session->send(statusEvent());
    } else if (cmd == QLatin1String("login_start")) {
        loginStart(session);
    } else if (cmd == QLatin1String("login_cancel")) {
        m_loginExpiry.stop();
        m_autoLogin.stop();
        m_loginPage.close();
    } else if (cmd == QLatin1String("logout")) {
        m_loginExpiry.stop();
        m_autoLogin.stop();
        m_loginPage.close();
        m_authenticated = false;
        {
            const QSignalBlocker quiet(&m_vpn); // "logged_out" says it all
            m_vpn.disconnectTunnel();
        }
        saveState();
        broadcast(makeEvent(QStringLiteral("logged_out")));
    } else if (cmd == QLatin1String("connect")) {
        journal(QStringLiteral("connect: whitelist=%1 games=%2")
                    .arg(Protocol::readBool(payload, QLatin1StringView("whitelist")))
                    .arg(Protocol::readBool(payload, QLatin1StringView("games"))));
        if (!m_authenticated)
            return session->send(errorEvent(QStringLiteral("not signed in")));
        m_vpn.connectTunnel();
    } else if (cmd == QLatin1String("disconnect")) {
        m_vpn.disconnectTunnel();
    } else if (cmd == QLatin1String("set_kill_switch")) {
        const QString mode = Protocol::readString(payload, QLatin1StringView("mode"));
        if (!isKillSwitchMode(mode))
            return session->send(
                errorEvent(QStringLiteral("unknown kill switch mode: %1").arg(mode)));
        if (mode != m_killSwitchMode) {
            m_killSwitchMode = mode;
            saveState();
            broadcast(statusEvent());
        }
    } else if (cmd == QLatin1String("get_diag")) {
        diagnostics(session);
    } else if (cmd == QLatin1String("install_update")) {
        installUpdate(session);
    } else if (cmd == QLatin1String("apply_update")) {
        applyUpdate(session);
    } else if (cmd == QLatin1String("shutdown")) {
        stop(0);
    } else {
        session->send(errorEvent(QStringLiteral("unknown command: %1").arg(cmd)));
    }
}

void DevDaemon::loginStart(ClientSession *session)
{
    const QDateTime expiresAt = QDateTime::currentDateTimeUtc().addSecs(kLoginLifetimeSecs);
    QJsonObject opened = makeEvent(QStringLiteral("browser_opened"));
    opened.insert(QStringLiteral("login_url"), m_loginPage.open(expiresAt));
    opened.insert(QStringLiteral("expires_at"), expiresAt.toString(Qt::ISODate));
    m_loginExpiry.start(kLoginLifetimeSecs * 1000);
    if (m_options.autoLoginMs >= 0)
        m_autoLogin.start(m_options.autoLoginMs);
    session->send(opened);
}

void DevDaemon::setAuthenticated(bool authenticated)
{
    if (authenticated == m_authenticated)
        return broadcast(makeEvent(QStringLiteral("login_complete")));
    m_authenticated = authenticated;
    saveState();
    broadcast(makeEvent(QStringLiteral("login_complete")));
    broadcast(statusEvent());
}

// A folder of our own, made with a fresh unguessable name (mkdtemp, mode 0700):
// nobody can have planted anything in it or see into it.
QString DevDaemon::diagnosticsFolder()
{
    if (m_diagFolder.isEmpty()) {
        QTemporaryDir folder(QDir::temp().filePath(QStringLiteral("kestrix-diag-XXXXXX")));
        if (!folder.isValid())
            return {};
        folder.setAutoRemove(false); // the client copies the archives later
        m_diagFolder = folder.path();
    }
    return m_diagFolder;
}

void DevDaemon::diagnostics(ClientSession *session)
{
    const QString folder = diagnosticsFolder();
    if (folder.isEmpty())
        return session->send(
            errorEvent(QStringLiteral("diagnostics failed: no private folder for them")));
    const QString path = QDir(folder).filePath(
        QStringLiteral("kestrix-diag-%1.zip")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"))));
    const QByteArray about = QStringLiteral("Kestrix development daemon %1\nendpoint: %2\npid: %3\n"
                                            "written: %4\n")
                                 .arg(kDaemonVersion, m_options.socketName)
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(utcNow())
                                 .toUtf8();
    const QList<StoredZip::Entry> entries{
        {QStringLiteral("daemon.txt"), about},
        {QStringLiteral("status.json"), QJsonDocument(statusEvent()).toJson()},
        {QStringLiteral("journal.log"), m_journal.join(u'\n').toUtf8() + '\n'},
    };
    QString error;
    if (!StoredZip::write(path, entries, &error))
        return session->send(errorEvent(QStringLiteral("diagnostics failed: %1").arg(error)));
    QJsonObject ready = makeEvent(QStringLiteral("diag_ready"));
    ready.insert(QStringLiteral("diag_path"), QFileInfo(path).absoluteFilePath());
    session->send(ready);
}

void DevDaemon::installUpdate(ClientSession *session)
{
    switch (m_update) {
    case Update::None:
        return session->send(errorEvent(QStringLiteral("update not available")));
    case Update::Downloading:
    case Update::Applying:
        return; // already under way
    case Update::Ready:
        return session->send(makeEvent(QStringLiteral("update_ready")));
    case Update::Offered:
        break;
    }
    m_update = Update::Downloading;
    m_updateProgress = 0;
    QJsonObject progress = makeEvent(QStringLiteral("update_progress"));
    progress.insert(QStringLiteral("update_progress"), 0);
    broadcast(progress);
    m_updateTimer.start();
}

void DevDaemon::applyUpdate(ClientSession *session)
{
    if (m_update != Update::Ready)
        return session->send(errorEvent(QStringLiteral("update not ready")));
    m_update = Update::Applying;
    broadcast(makeEvent(QStringLiteral("updating")));
    stop(0); // the installer stops the service
}

void DevDaemon::stop(int exitCode)
{
    if (m_stopping)
        return;
    m_stopping = true;
    for (const QPointer<ClientSession> &session : std::as_const(m_sessions)) {
        if (session)
            session->drain();
    }
    emit finished(exitCode);
}

QJsonObject DevDaemon::statusEvent() const
{
    QJsonObject status = makeEvent(QStringLiteral("status"));
    status.insert(QStringLiteral("authenticated"), m_authenticated);
    status.insert(QStringLiteral("kill_switch_mode"), m_killSwitchMode);
    m_vpn.fillStatus(status);
    return status;
}

void DevDaemon::broadcast(const QJsonObject &event)
{
    broadcastLine(Protocol::encode(event).chopped(1));
}

void DevDaemon::broadcastLine(const QByteArray &line)
{
    if (m_stopping)
        return;
    journal(QStringLiteral("-> %1").arg(QString::fromUtf8(line.left(300))));
    const QList<QPointer<ClientSession>> sessions = m_sessions; // a send may drop one
    for (const QPointer<ClientSession> &session : sessions) {
        if (session && session->isReady())
            session->sendLine(line);
    }
}

void DevDaemon::journal(const QString &entry)
{
    m_journal.append(QStringLiteral("%1 %2").arg(utcNow(), entry));
    if (m_journal.size() > kJournalEntries)
        m_journal.removeFirst();
}
