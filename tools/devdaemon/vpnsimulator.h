#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

// The tunnel as the development daemon plays it: connecting, connected with
// traffic at a realistic, varying rate, dropped and reconnecting on request,
// or failing with a given error. No packet is moved.
class VpnSimulator : public QObject
{
    Q_OBJECT

public:
    struct Behaviour
    {
        int connectDelayMs = 1200;
        int dropEveryMs = 0; // 0: never drops
        QString failText;    // empty: connects succeed
        int failCount = 0;   // with failText: fail only the first N; 0 means all
    };

    explicit VpnSimulator(const Behaviour &behaviour, QObject *parent = nullptr);

    void connectTunnel();
    void disconnectTunnel();

    QString state() const { return m_state; }
    bool isActive() const;

    // The tunnel's part of a "status" event.
    void fillStatus(QJsonObject &status) const;

signals:
    // The state, the attempt or the error changed: worth a "status" of its own.
    void changed();

private:
    void step();
    void drop();
    void sampleTraffic();
    void bringUp();
    void setState(const QString &state);

    Behaviour m_behaviour;
    QTimer m_stepTimer;    // connecting and reconnecting steps
    QTimer m_dropTimer;    // --drop-every
    QTimer m_trafficTimer; // counters grow only while connected
    QElapsedTimer m_sinceSample;

    QString m_state = QStringLiteral("disconnected");
    QString m_ip;
    QString m_transport;
    QString m_endpoint;
    QString m_error;
    QString m_connectedSince;
    int m_attempt = 0;
    int m_connects = 0;
    double m_up = 0;
    double m_down = 0;
    double m_phase = 0;
};
