#include "tray/traymanager.h"

#include "appidentity.h"
#include "settings/stringtable.h"
#include "tray/trayhosts.h"
#include "tray/trayicon.h"

#ifdef KESTRIX_DBUS
#include "tray/desktopnotifier.h"
#include "tray/sessionbus.h"
#endif

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QScreen>

namespace {

constexpr int kBalloonMs = 4000;

// Qt settles on one kind of tray icon for the whole process when the first
// one is made: later icons are of that kind, whatever the desktop offers then.
TrayManager::Host g_qtTrayKind = TrayManager::Host::None;

} // namespace

TrayManager::TrayManager(IconTiming timing, QObject *parent)
    : QObject(parent), m_hosts(new TrayHosts(this)), m_strings(StringTable::english())
{
    connect(m_hosts, &TrayHosts::changed, this, [this] { refreshTrayAvailable(); });
    m_settleTimer.setSingleShot(true);
    m_settleTimer.setInterval(kSettleMs);
    connect(&m_settleTimer, &QTimer::timeout, this, [this] {
        m_settled = true;
        updateIcon();
    });
    if (timing == IconTiming::AtOnce)
        showIcon();
}

TrayManager::~TrayManager()
{
    delete m_trayIcon; // before the menu it may show
}

bool TrayManager::trayKnown() const
{
    return m_hostProbe || m_hosts->known();
}

TrayManager::Host TrayManager::currentHost() const
{
    if (m_hostProbe)
        return m_hostProbe();
    const bool sni = m_hosts->statusNotifier();
    const bool xembed = m_hosts->xembed();
    switch (g_qtTrayKind) {
    case Host::StatusNotifier:
        return sni ? Host::StatusNotifier : Host::None;
    case Host::XEmbed:
        return xembed ? Host::XEmbed : Host::None;
    case Host::None:
        break;
    }
    // Qt prefers a StatusNotifierItem host where there is one.
    return sni ? Host::StatusNotifier : xembed ? Host::XEmbed : Host::None;
}

void TrayManager::showIcon()
{
    if (m_iconWanted)
        return;
    m_iconWanted = true;
    m_hosts->start(); // the tray is looked for from here on
    refreshTrayAvailable();
}

void TrayManager::setTrayProbe(TrayProbe probe)
{
    if (!probe) {
        setHostProbe(nullptr);
        return;
    }
    setHostProbe([probe = std::move(probe)] { return probe() ? Host::XEmbed : Host::None; });
}

void TrayManager::setHostTimeouts(TrayHosts::Timeouts timeouts)
{
    m_hosts->setTimeouts(timeouts);
}

void TrayManager::setHostProbe(HostProbe probe)
{
    m_hostProbe = std::move(probe);
    refreshTrayAvailable();
}

void TrayManager::refreshTrayAvailable()
{
    if (!m_hostProbe) {
        m_hosts->start();
        m_hosts->refreshXEmbed(); // no signal back when nothing changed
    }
    updateIcon();
    const bool available = currentHost() != Host::None;
    if (available == m_trayAvailable && !(trayKnown() && !m_announcedKnown))
        return;
    m_trayAvailable = available;
    m_announcedKnown = trayKnown();
    emit trayAvailableChanged();
}

void TrayManager::updateIcon()
{
    const Host host = currentHost();
    if (m_trayIcon && host != m_iconHost)
        dropIcon(); // gone, or (under a probe) another kind
    // Not before the session bus has answered too: Qt makes a
    // StatusNotifierItem wherever a host is registered, and an icon made on
    // the X11 answer alone would be that item without its menu.
    if (m_trayIcon || !m_iconWanted || host == Host::None || !trayKnown())
        return;
    if (host == Host::XEmbed && !m_hostProbe && g_qtTrayKind == Host::None && !xembedSettled())
        return; // a StatusNotifierItem host may yet come
    makeIcon(host);
}

bool TrayManager::xembedSettled()
{
    if (!m_hosts->statusNotifierPossible())
        return true;
    if (!m_settled) {
        if (!m_settleTimer.isActive())
            m_settleTimer.start();
        return false;
    }
    // Qt asks the watcher itself, and waits for it, when the first icon is
    // made: not while it has yet to answer us.
    return !m_hosts->statusNotifierPending();
}

void TrayManager::makeIcon(Host host)
{
    if (m_bases.isEmpty())
        m_bases = TrayIcon::scaledBases(TrayIcon::loadBaseImage());
    if (!m_hostProbe && g_qtTrayKind == Host::None)
        g_qtTrayKind = host;
    m_iconHost = host;
    m_trayIcon = new QSystemTrayIcon(this);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &TrayManager::onActivated);
    // A StatusNotifierItem host shows the menu itself (GNOME sends no right
    // click at all); an XEmbed tray and Windows keep the popup.
    if (host == Host::StatusNotifier)
        m_trayIcon->setContextMenu(menu());
    refreshIcon();
    m_trayIcon->show();
}

void TrayManager::dropIcon()
{
    QSystemTrayIcon *icon = m_trayIcon;
    m_trayIcon = nullptr;
    delete icon;
    m_iconHost = Host::None;
}

QRect TrayManager::availableAreaAt(int x, int y) const
{
    QScreen *screen = QGuiApplication::screenAt(QPoint(x, y));
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void TrayManager::setNote(const QString &note)
{
    if (note == m_note)
        return;
    m_note = note;
    if (m_trayIcon)
        m_trayIcon->setToolTip(TrayIcon::toolTip(m_version, m_vpnState, m_note));
}

void TrayManager::setVersion(const QString &v)
{
    if (v == m_version)
        return;
    m_version = v;
    refreshIcon();
    emit versionChanged();
}

void TrayManager::setVpnState(const QString &state)
{
    if (state == m_vpnState)
        return;
    m_vpnState = state;
    refreshIcon();
    refreshMenu();
}

void TrayManager::setSignedIn(bool signedIn)
{
    if (signedIn == m_signedIn)
        return;
    m_signedIn = signedIn;
    refreshMenu();
}

void TrayManager::setWindowShown(bool shown)
{
    if (shown == m_windowShown)
        return;
    m_windowShown = shown;
    refreshMenu();
}

void TrayManager::setStrings(const QVariantMap &t)
{
    m_strings = t;
    refreshMenu();
}

void TrayManager::notify(const QString &title, const QString &message)
{
    showIcon(); // the icon is wanted from here on, whoever shows the text
#ifdef KESTRIX_DBUS
    if (!m_notifier) {
        m_notifier = new DesktopNotifier(SessionBus::connection(),
                                         QString::fromLatin1(AppIdentity::kDesktopId),
                                         TrayIcon::loadBaseImage(), this);
        m_notifier->setFallback([this](const QString &t, const QString &m) { balloon(t, m); });
    }
    m_notifier->notify(title, message);
#else
    balloon(title, message);
#endif
}

void TrayManager::balloon(const QString &title, const QString &message)
{
    // A StatusNotifierItem would send it through the notification service
    // that just failed, and mark itself as wanting attention meanwhile.
    if (m_trayIcon && m_iconHost != Host::StatusNotifier)
        m_trayIcon->showMessage(title, message, QSystemTrayIcon::Information, kBalloonMs);
}

void TrayManager::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        emit toggleWindowRequested();
        break;
    case QSystemTrayIcon::Context: {
        // A StatusNotifierItem has no geometry: the popup opens at the click.
        const QPoint anchor = TrayIcon::popupAnchor(m_trayIcon->geometry(), QCursor::pos());
        emit popupRequested(anchor.x(), anchor.y());
        break;
    }
    default: // DoubleClick, MiddleClick, Unknown
        break;
    }
}

void TrayManager::refreshIcon()
{
    if (!m_trayIcon)
        return; // drawn with the state of the moment when the icon is made
    m_trayIcon->setIcon(TrayIcon::composeIcon(m_bases, m_vpnState));
    m_trayIcon->setToolTip(TrayIcon::toolTip(m_version, m_vpnState, m_note));
}

QMenu *TrayManager::menu()
{
    if (m_menu)
        return m_menu.get();
    m_menu = std::make_unique<QMenu>();
    m_windowAction = m_menu->addAction(QString());
    connect(m_windowAction, &QAction::triggered, this, [this] {
        if (m_windowShown)
            emit hideRequested();
        else
            emit showRequested();
    });
    m_connectAction = m_menu->addAction(QString());
    connect(m_connectAction, &QAction::triggered, this, [this] {
        if (m_vpnState == QLatin1String("connected"))
            emit disconnectRequested();
        else
            emit connectRequested();
    });
    m_menu->addSeparator();
    m_quitAction = m_menu->addAction(QString());
    connect(m_quitAction, &QAction::triggered, this, &TrayManager::quitRequested);
    refreshMenu();
    return m_menu.get();
}

void TrayManager::refreshMenu()
{
    if (!m_menu)
        return;
    const auto text = [this](const char *key) {
        return m_strings.value(QLatin1String(key)).toString();
    };
    m_windowAction->setText(text(m_windowShown ? "trayHide" : "trayOpen"));
    // As the popup's button: disconnect while connected, nothing while a
    // connection is being made or the user is signed out, connect otherwise.
    const bool connected = m_vpnState == QLatin1String("connected");
    const bool busy =
        m_vpnState == QLatin1String("connecting") || m_vpnState == QLatin1String("reconnecting");
    m_connectAction->setText(text(connected ? "disconnect" : "connect"));
    m_connectAction->setEnabled(m_signedIn && !busy);
    m_quitAction->setText(text("quit"));
}
