#include "vpnsimulator.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <cmath>

namespace {

constexpr int kReconnectStepMs = 800;
constexpr int kReconnectAttempts = 3;
constexpr int kTrafficTickMs = 250;

// Typical rates of a busy home connection, in bytes per second.
constexpr double kDownRate = 2.6e6;
constexpr double kUpRate = 3.2e5;

const char *const kEndpoints[] = {"ams-2.edge.kestrix.test:443", "fra-5.edge.kestrix.test:51820",
                                  "hel-1.edge.kestrix.test:443"};
const char *const kTransports[] = {"udp", "tcp", "quic"};

} // namespace

VpnSimulator::VpnSimulator(const Behaviour &behaviour, QObject *parent)
    : QObject(parent), m_behaviour(behaviour)
{
    m_stepTimer.setSingleShot(true);
    connect(&m_stepTimer, &QTimer::timeout, this, &VpnSimulator::step);
    m_dropTimer.setInterval(m_behaviour.dropEveryMs);
    connect(&m_dropTimer, &QTimer::timeout, this, &VpnSimulator::drop);
    m_trafficTimer.setInterval(kTrafficTickMs);
    connect(&m_trafficTimer, &QTimer::timeout, this, &VpnSimulator::sampleTraffic);
}

bool VpnSimulator::isActive() const
{
    return m_state == QLatin1String("connecting") || m_state == QLatin1String("connected") ||
           m_state == QLatin1String("reconnecting");
}

void VpnSimulator::connectTunnel()
{
    if (isActive()) {
        emit changed(); // a repeated connect just hears where things stand
        return;
    }
    ++m_connects;
    m_error.clear();
    m_attempt = 0;
    m_stepTimer.start(m_behaviour.connectDelayMs);
    setState(QStringLiteral("connecting"));
}

void VpnSimulator::disconnectTunnel()
{
    m_stepTimer.stop();
    m_dropTimer.stop();
    m_trafficTimer.stop();
    m_attempt = 0;
    m_error.clear();
    m_endpoint.clear();
    m_connectedSince.clear();
    m_up = m_down = 0;
    setState(QStringLiteral("disconnected"));
}

void VpnSimulator::step()
{
    if (m_state == QLatin1String("connecting")) {
        const bool fails = !m_behaviour.failText.isEmpty() &&
                           (m_behaviour.failCount == 0 || m_connects <= m_behaviour.failCount);
        if (fails) {
            m_error = m_behaviour.failText;
            m_endpoint.clear();
            setState(QStringLiteral("failed"));
        } else {
            bringUp();
        }
    } else if (m_state == QLatin1String("reconnecting")) {
        if (m_attempt < kReconnectAttempts) {
            ++m_attempt;
            m_stepTimer.start(kReconnectStepMs);
            emit changed();
        } else {
            bringUp();
        }
    }
}

void VpnSimulator::bringUp()
{
    auto *random = QRandomGenerator::global();
    m_ip = QStringLiteral("10.77.%1.%2").arg(random->bounded(0, 256)).arg(random->bounded(2, 255));
    m_transport = QString::fromLatin1(kTransports[random->bounded(int(std::size(kTransports)))]);
    m_endpoint = QString::fromLatin1(kEndpoints[random->bounded(int(std::size(kEndpoints)))]);
    m_connectedSince = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    m_attempt = 0;
    m_error.clear();
    m_up = m_down = 0;
    m_sinceSample.start();
    m_trafficTimer.start();
    if (m_behaviour.dropEveryMs > 0)
        m_dropTimer.start();
    setState(QStringLiteral("connected"));
}

void VpnSimulator::drop()
{
    if (m_state != QLatin1String("connected"))
        return;
    m_dropTimer.stop();
    m_trafficTimer.stop();
    m_attempt = 1;
    m_error = QStringLiteral("connection lost");
    m_stepTimer.start(kReconnectStepMs);
    setState(QStringLiteral("reconnecting"));
}

void VpnSimulator::sampleTraffic()
{
    const double dt = m_sinceSample.restart() / 1000.0;
    // A slow swell and fresh jitter each tick, so the speeds visibly wander.
    m_phase += dt;
    auto *random = QRandomGenerator::global();
    const double swell = 0.6 + 0.3 * std::sin(m_phase / 2.3);
    m_down += kDownRate * dt * (swell + 0.3 * random->generateDouble());
    m_up += kUpRate * dt * (swell + 0.4 * random->generateDouble());
}

void VpnSimulator::setState(const QString &state)
{
    m_state = state;
    emit changed();
}

void VpnSimulator::fillStatus(QJsonObject &status) const
{
    const bool live = m_state == QLatin1String("connected");
    status.insert(QStringLiteral("status"), m_state);
    status.insert(QStringLiteral("ip"), live ? m_ip : QString());
    status.insert(QStringLiteral("transport"), live ? m_transport : QString());
    status.insert(QStringLiteral("endpoint"), isActive() ? m_endpoint : QString());
    status.insert(QStringLiteral("attempt"), m_attempt);
    status.insert(QStringLiteral("error"), m_error);
    status.insert(QStringLiteral("up"), std::floor(m_up));
    status.insert(QStringLiteral("down"), std::floor(m_down));
    status.insert(QStringLiteral("connected_since"), m_connectedSince);
}
