#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

// The application's tray icon: a status dot that follows the VPN state, a
// tooltip with the daemon's version, clicks turned into requests for QML, and
// balloons. It knows neither the daemon nor QML; the shell feeds it and wires
// its requests.
class TrayManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString version READ version NOTIFY versionChanged)

public:
    explicit TrayManager(QObject *parent = nullptr);

    QString version() const { return m_version; }
    QString vpnState() const { return m_vpnState; }
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }

signals:
    void versionChanged();
    void quitRequested();
    void showRequested();
    void toggleWindowRequested();
    void connectRequested();
    void disconnectRequested();
    void popupRequested(int anchorX, int anchorY);

public slots:
    void setVersion(const QString &v);
    void setVpnState(const QString &state);
    void notify(const QString &title, const QString &message);

private slots:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

private:
    void refreshIcon();

    QSystemTrayIcon *m_trayIcon;
    QString m_version;
    QString m_vpnState = QStringLiteral("disconnected");
    // ":/icon.png" is large; it is scaled once, not on every redraw.
    QImage m_baseImage;
};
