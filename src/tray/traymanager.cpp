#include "tray/traymanager.h"

#include "tray/trayicon.h"

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

namespace {
constexpr int kBalloonMs = 4000;
}

TrayManager::TrayManager(IconTiming timing, QObject *parent)
    : QObject(parent), m_trayIcon(new QSystemTrayIcon(this)),
      m_trayProbe(&QSystemTrayIcon::isSystemTrayAvailable)
{
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &TrayManager::onActivated);
    if (timing == IconTiming::AtOnce)
        showIcon();
    m_trayAvailable = m_trayProbe();

    // The X11 platform tells when a tray manager comes or goes (the toolkit's
    // own tray icon listens the same way). The signal lives in the platform
    // plugin, so it is reached by name; QPlatformNativeInterface derives from
    // QObject alone, so the pointer is that QObject.
    auto *native = reinterpret_cast<QObject *>(QGuiApplication::platformNativeInterface());
    if (native && native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)") >= 0) {
        connect(native, SIGNAL(systemTrayWindowChanged(QScreen *)), this,
                SLOT(refreshTrayAvailable()));
    }
}

void TrayManager::showIcon()
{
    if (m_iconShown)
        return;
    m_iconShown = true;
    m_baseImage = TrayIcon::loadBaseImage();
    refreshIcon();
    m_trayIcon->show();
}

void TrayManager::setTrayProbe(TrayProbe probe)
{
    m_trayProbe = std::move(probe);
    refreshTrayAvailable();
}

void TrayManager::refreshTrayAvailable()
{
    const bool available = m_trayProbe && m_trayProbe();
    if (available == m_trayAvailable)
        return;
    m_trayAvailable = available;
    emit trayAvailableChanged();
}

void TrayManager::setNote(const QString &note)
{
    if (note == m_note)
        return;
    m_note = note;
    if (m_iconShown)
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
}

void TrayManager::notify(const QString &title, const QString &message)
{
    showIcon(); // a balloon comes from the icon
    m_trayIcon->showMessage(title, message, QSystemTrayIcon::Information, kBalloonMs);
}

void TrayManager::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        emit toggleWindowRequested();
        break;
    case QSystemTrayIcon::Context: {
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
    if (!m_iconShown)
        return; // drawn with the state of the moment by showIcon()
    m_trayIcon->setIcon(QIcon(QPixmap::fromImage(TrayIcon::compose(m_baseImage, m_vpnState))));
    m_trayIcon->setToolTip(TrayIcon::toolTip(m_version, m_vpnState, m_note));
}
