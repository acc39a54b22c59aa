#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVariantMap>

#include "tray/trayhosts.h"

#include <functional>
#include <memory>

class DesktopNotifier;
class QAction;
class QMenu;

// The application's tray icon: a status dot that follows the VPN state, a
// tooltip with the daemon's version, clicks turned into requests for QML, a
// native menu where the tray shows one, and notifications. It knows neither
// the daemon nor QML; the shell feeds it and wires its requests.
//
// The icon is made only once the desktop has a tray to hold it, so that Qt
// picks the kind of tray icon (XEmbed or StatusNotifierItem) that is really
// there, and a panel that starts after the application still gets the icon.
class TrayManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString version READ version NOTIFY versionChanged)
    // Whether the desktop has a system tray to hold the icon. Without one the
    // window is the only way to the application.
    Q_PROPERTY(bool trayAvailable READ trayAvailable NOTIFY trayAvailableChanged)

public:
    // What holds the icon: nothing yet, an XEmbed tray (the icon's right
    // click opens the popup), or a StatusNotifierItem host (which shows the
    // native menu).
    enum class Host
    {
        None,
        XEmbed,
        StatusNotifier
    };
    // How long an X11 tray waits for a StatusNotifierItem host before the
    // icon is made for it: desktops that offer both start their X11 tray
    // before their watcher (Cinnamon: 0.6 to 3.3 s before, on a loaded
    // machine), and Qt keeps the kind of its first icon for the whole session.
    static constexpr int kSettleMs = 4000;

    using TrayProbe = std::function<bool()>;
    using HostProbe = std::function<Host()>;
    // When the icon goes into the tray: at once, or on showIcon(), so that a
    // window being shown draws its first frame before the icon is made.
    enum class IconTiming
    {
        AtOnce,
        OnShowIcon
    };

    explicit TrayManager(QObject *parent = nullptr) : TrayManager(IconTiming::AtOnce, parent) {}
    explicit TrayManager(IconTiming timing, QObject *parent = nullptr);
    ~TrayManager() override;

    QString version() const { return m_version; }
    QString vpnState() const { return m_vpnState; }
    // Null until a tray exists (and the icon was asked for), and while none does.
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    bool trayAvailable() const { return m_trayAvailable; }
    // False until the session bus has said whether a StatusNotifierItem host
    // is there: "no tray" means something only once this is true.
    bool trayKnown() const;
    // The kind of tray the icon was made for; None without an icon.
    Host iconHost() const { return m_trayIcon ? m_iconHost : Host::None; }
    QString note() const { return m_note; }
    // The native menu, set on the icon only for a StatusNotifierItem host.
    QMenu *menu();
    // Replaces how the tray is looked for (tests) and looks at once; a tray
    // found by a plain probe is taken to be an XEmbed one.
    void setTrayProbe(TrayProbe probe);
    void setHostProbe(HostProbe probe);
    // Tests shorten or lengthen the waits; before showIcon().
    void setHostTimeouts(TrayHosts::Timeouts timeouts);
    void setSettleTime(int ms) { m_settleTimer.setInterval(ms); }
    // Starts looking for a tray, and draws the icon with what is known by
    // then and puts it in the tray once there is one; asked once, kept until
    // the manager ends. Until then (IconTiming::OnShowIcon) nothing is asked
    // of the X server or the session bus, and trayKnown() is false.
    void showIcon();
    bool iconShown() const { return m_iconWanted && m_trayIcon; }
    // The screen area, less panels, at a global point (the popup stays
    // inside it); the primary screen's when no screen is there.
    Q_INVOKABLE QRect availableAreaAt(int x, int y) const;

signals:
    void versionChanged();
    void quitRequested();
    void showRequested();
    // The native menu's "Hide": the window goes to the tray.
    void hideRequested();
    void toggleWindowRequested();
    void connectRequested();
    void disconnectRequested();
    void popupRequested(int anchorX, int anchorY);
    // Also when the first answer about the tray arrives (trayKnown turns true).
    void trayAvailableChanged();

public slots:
    void setVersion(const QString &v);
    void setVpnState(const QString &state);
    void notify(const QString &title, const QString &message);
    // Looks again whether there is a system tray. Trays are also followed as
    // they come and go (the X11 selection and the session bus), so nothing polls.
    void refreshTrayAvailable();
    // Lines under the tooltip's state, such as why the daemon is out of
    // reach; empty for none. Changes the tooltip only, never the icon.
    void setNote(const QString &note);
    // What the native menu offers follows these, as the tray popup does.
    void setSignedIn(bool signedIn);
    void setWindowShown(bool shown);
    void setStrings(const QVariantMap &t);

private slots:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

private:
    Host currentHost() const;
    void updateIcon();
    // Whether an icon may be made for an X11 tray now that the kind is still open.
    bool xembedSettled();
    void makeIcon(Host host);
    void dropIcon();
    void refreshIcon();
    void refreshMenu();
    void balloon(const QString &title, const QString &message);

    QPointer<QSystemTrayIcon> m_trayIcon;
    Host m_iconHost = Host::None;
    TrayHosts *m_hosts = nullptr;
    HostProbe m_hostProbe;
    // Runs from the moment an X11 tray is seen while the kind of icon is
    // still open; an icon for it is made only once it has run out.
    QTimer m_settleTimer;
    bool m_settled = false;
    QString m_version;
    QString m_vpnState = QStringLiteral("disconnected");
    // ":/icon-256.png" read once, scaled once to every icon size; each state
    // change draws only the dots.
    QList<QImage> m_bases;
    QString m_note;
    bool m_trayAvailable = false;
    bool m_iconWanted = false;
    // Whether trayAvailableChanged has told of the first answer about the tray.
    bool m_announcedKnown = false;

    std::unique_ptr<QMenu> m_menu;
    QAction *m_windowAction = nullptr;
    QAction *m_connectAction = nullptr;
    QAction *m_quitAction = nullptr;
    bool m_signedIn = false;
    bool m_windowShown = false;
    QVariantMap m_strings;

    DesktopNotifier *m_notifier = nullptr;
};
