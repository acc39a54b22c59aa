#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>

// The application's tray icon: a status dot that follows the VPN state, a
// tooltip with the daemon's version, clicks turned into requests for QML, and
// balloons. It knows neither the daemon nor QML; the shell feeds it and wires
// its requests.
class TrayManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString version READ version NOTIFY versionChanged)
    // Whether the desktop has a system tray to hold the icon. Without one the
    // window is the only way to the application.
    Q_PROPERTY(bool trayAvailable READ trayAvailable NOTIFY trayAvailableChanged)

public:
    using TrayProbe = std::function<bool()>;
    // When the icon goes into the tray: at once, or on showIcon(), so that a
    // window being shown draws its first frame before the icon is made.
    enum class IconTiming
    {
        AtOnce,
        OnShowIcon
    };

    explicit TrayManager(QObject *parent = nullptr) : TrayManager(IconTiming::AtOnce, parent) {}
    explicit TrayManager(IconTiming timing, QObject *parent = nullptr);

    QString version() const { return m_version; }
    QString vpnState() const { return m_vpnState; }
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    bool trayAvailable() const { return m_trayAvailable; }
    QString note() const { return m_note; }
    // Replaces how the tray is looked for (tests) and looks at once.
    void setTrayProbe(TrayProbe probe);
    // Draws the icon with what is known by now and puts it in the tray; once.
    void showIcon();
    bool iconShown() const { return m_iconShown; }

signals:
    void versionChanged();
    void quitRequested();
    void showRequested();
    void toggleWindowRequested();
    void connectRequested();
    void disconnectRequested();
    void popupRequested(int anchorX, int anchorY);
    void trayAvailableChanged();

public slots:
    void setVersion(const QString &v);
    void setVpnState(const QString &state);
    void notify(const QString &title, const QString &message);
    // Looks again whether there is a system tray: at start, when the X11
    // platform reports a tray coming or going, and when the window is shown
    // or closed, so that nothing polls.
    void refreshTrayAvailable();
    // Lines under the tooltip's state, such as why the daemon is out of
    // reach; empty for none. Changes the tooltip only, never the icon.
    void setNote(const QString &note);

private slots:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

private:
    void refreshIcon();

    QSystemTrayIcon *m_trayIcon;
    QString m_version;
    QString m_vpnState = QStringLiteral("disconnected");
    // ":/icon-256.png" is large; it is scaled once, not on every redraw.
    QImage m_baseImage;
    QString m_note;
    TrayProbe m_trayProbe;
    bool m_trayAvailable = false;
    bool m_iconShown = false;
};
