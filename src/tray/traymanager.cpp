#include "tray/traymanager.h"

#include "tray/trayicon.h"

#include <QCursor>
#include <QIcon>
#include <QPixmap>

namespace {
constexpr int kBalloonMs = 4000;
}

TrayManager::TrayManager(QObject *parent)
    : QObject(parent), m_trayIcon(new QSystemTrayIcon(this)), m_baseImage(TrayIcon::loadBaseImage())
{
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &TrayManager::onActivated);
    refreshIcon();
    m_trayIcon->show();
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
    m_trayIcon->setIcon(QIcon(QPixmap::fromImage(TrayIcon::compose(m_baseImage, m_vpnState))));
    m_trayIcon->setToolTip(TrayIcon::toolTip(m_version, m_vpnState));
}
