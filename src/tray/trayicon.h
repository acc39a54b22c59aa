#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

// The pure parts of the tray icon: what it looks like, what its tooltip says
// and where the popup hangs from. Kept apart from QSystemTrayIcon so that
// they can be checked without a system tray.
namespace TrayIcon {

inline constexpr int kSize = 32;
// The status dot: 11 px across, 2 px clear of the right and bottom borders.
inline constexpr QRect kDotRect{19, 19, 11, 11};

// The fixed dot colour of a VPN state; it does not follow the theme.
QColor dotColor(const QString &state);

// ":/icon-256.png" scaled once to the tray size.
QImage loadBaseImage();

// The base image with the state's dot over its lower-right corner.
QImage compose(const QImage &base, const QString &state);

// "Kestrix v1.4.2 — connected"; "Kestrix — disconnected" before a version.
// A note, when there is one, follows on lines of its own.
QString toolTip(const QString &version, const QString &state, const QString &note = {});

// The middle of the icon's top edge, or the cursor when the platform cannot
// tell where the icon is.
QPoint popupAnchor(const QRect &iconGeometry, const QPoint &cursor);

} // namespace TrayIcon
