#include "ipc/daemonpeer_unix.h"

#include "ipc/endpointcheck_unix.h"
#include "ipc/peercredentials_unix.h"
#include "ipc/servicemainpid_unix.h"

#include <QFile>
#include <QPointer>

#include <memory>
#include <optional>

#include <unistd.h>

namespace DaemonPeer {
namespace {

const char kUnit[] = "kestrix.service";

MainPidLookup &mainPidLookup()
{
    static MainPidLookup lookup;
    return lookup;
}

void lookUpMainPid(QObject *context, std::function<void(qint64)> answer)
{
    if (const MainPidLookup &replaced = mainPidLookup())
        return replaced(context, std::move(answer));
    ServiceMainPid::query(ServiceMainPid::systemctlPath(), QLatin1String(kUnit), context,
                          std::move(answer));
}

} // namespace

// What is known of one socket's current connection. A child of the socket,
// so it goes with it, and a pending question to systemd goes with it too.
class Session : public QObject
{
    Q_OBJECT

public:
    explicit Session(QLocalSocket *socket) : QObject(socket), m_socket(socket)
    {
        connect(socket, &QLocalSocket::stateChanged, this,
                [this](QLocalSocket::LocalSocketState state) {
                    // A connection made or failed no longer needs the folder.
                    if (state != QLocalSocket::ConnectingState)
                        endpoint.release();
                    if (state == QLocalSocket::UnconnectedState)
                        forget();
                });
    }

    static Session *of(QLocalSocket *socket)
    {
        if (auto *session = socket->findChild<Session *>(QString(), Qt::FindDirectChildrenOnly))
            return session;
        return new Session(socket);
    }

    // A new connection: nothing learnt of the last one counts.
    void forget()
    {
        ++generation;
        verdict.reset();
        serviceAccount.clear();
        endpoint.release();
        releaseSignals();
    }

    // Nothing is announced, and no more than kMaxBytesBeforeTrust is taken
    // in, until the verdict.
    void holdSignals()
    {
        m_holding = true;
        m_socket->blockSignals(true);
        m_readBufferSize = m_socket->readBufferSize();
        if (m_readBufferSize == 0 || m_readBufferSize > kMaxBytesBeforeTrust)
            m_socket->setReadBufferSize(kMaxBytesBeforeTrust);
    }

    void releaseSignals()
    {
        if (m_holding) {
            m_holding = false;
            m_socket->setReadBufferSize(m_readBufferSize);
            m_socket->blockSignals(false);
        }
    }

    CheckedEndpoint endpoint;
    long endpointOwner = -1;
    quint64 generation = 0;
    std::optional<Verdict> verdict;
    std::string serviceAccount;

private:
    QLocalSocket *m_socket;
    bool m_holding = false;
    qint64 m_readBufferSize = 0;
};

bool connectToCheckedEndpoint(QLocalSocket *socket, const QString &path, QString *refusal)
{
    Session *session = Session::of(socket);
    session->forget();
    CheckedEndpoint endpoint = checkEndpoint(QFile::encodeName(path).toStdString(), ::geteuid());
    if (!endpoint.accepted()) {
        if (refusal)
            *refusal = QString::fromStdString(endpoint.refusal());
        return false;
    }
    session->endpointOwner = endpoint.otherOwner();
    const QString connectPath =
        QFile::decodeName(QByteArray::fromStdString(endpoint.connectPath()));
    session->endpoint = std::move(endpoint);
    const QPointer<Session> alive(session);
    socket->connectToServer(connectPath, QIODevice::ReadWrite);
    // Connected or failed at once, as a local socket mostly is: the folder can
    // go. When the server's queue is full, Qt tries again later through the
    // same folder, kept open until then.
    if (alive && socket->state() != QLocalSocket::ConnectingState)
        alive->endpoint.release();
    return true;
}

bool isTrustedServer(const PeerIdentity &peer, const TrustPolicy &policy, long endpointOwner)
{
    if (endpointOwner < 0)
        return isTrustedDaemon(peer, policy);
    // A path another account controls: only that account's running daemon.
    return peer.known && peer.user == std::to_string(endpointOwner) &&
           policy.serviceProcessId != 0 && peer.processId == policy.serviceProcessId;
}

Verdict verifyServer(QLocalSocket *socket, const std::function<void()> &recheck)
{
    Session *session = Session::of(socket);
    if (session->verdict)
        return *session->verdict;
    if (socket->state() != QLocalSocket::ConnectedState)
        return Verdict::Refused;

    const PeerIdentity peer = peerIdentityOfSocket(int(socket->socketDescriptor()));
    TrustPolicy policy = currentTrustPolicy();
    if (!peer.known || isTrustedServer(peer, policy, session->endpointOwner)) {
        session->verdict = peer.known ? Verdict::Trusted : Verdict::Refused;
        return *session->verdict;
    }

    // Another account: only the service's own process will do. Asked anew
    // for every connection, as the service may have restarted since.
    session->verdict = Verdict::Pending;
    session->holdSignals();
    const quint64 generation = session->generation;
    auto answeredAtOnce = std::make_shared<bool>(true);
    lookUpMainPid(session, [session, socket, generation, peer, policy, recheck,
                            answeredAtOnce](qint64 pid) mutable {
        if (session->generation != generation || session->verdict != Verdict::Pending)
            return;
        // Read before the bound is lifted: a server that filled it while we
        // waited talks before it is spoken to, and far too much.
        const bool flooded = socket->bytesAvailable() >= kMaxBytesBeforeTrust;
        session->releaseSignals();
        policy.serviceProcessId = pid > 0 ? static_cast<unsigned long>(pid) : 0;
        const bool trusted = socket->state() == QLocalSocket::ConnectedState && !flooded &&
                             isTrustedServer(peer, policy, session->endpointOwner);
        session->verdict = trusted ? Verdict::Trusted : Verdict::Refused;
        if (trusted)
            session->serviceAccount = peer.user;
        if (*answeredAtOnce)
            return;
        recheck();
        // What a trusted server said while it was held back was not announced.
        if (trusted && socket->state() == QLocalSocket::ConnectedState &&
            socket->bytesAvailable() > 0)
            QMetaObject::invokeMethod(socket, &QLocalSocket::readyRead, Qt::QueuedConnection);
    });
    *answeredAtOnce = false;
    return *session->verdict;
}

std::string serviceAccountOf(QLocalSocket *socket)
{
    const auto *session = socket->findChild<Session *>(QString(), Qt::FindDirectChildrenOnly);
    return session && session->verdict == Verdict::Trusted ? session->serviceAccount
                                                           : std::string();
}

void setMainPidLookup(MainPidLookup lookup)
{
    mainPidLookup() = std::move(lookup);
}

} // namespace DaemonPeer

#include "daemonpeer_unix.moc"
