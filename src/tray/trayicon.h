#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QString>

#include <array>

// The pure parts of the tray icon: what it looks like, what its tooltip says
// and where the popup hangs from. Kept apart from QSystemTrayIcon so that
// they can be checked without a system tray.
namespace TrayIcon {

inline constexpr int kSize = 32;
// The status dot at kSize: 11 px across, 2 px clear of the right and bottom borders.
inline constexpr QRect kDotRect{19, 19, 11, 11};
// The sizes panels ask for, at one and two device pixels per point, so that
// none of them has to scale a drawn dot (16, 22, 24, 32, 48, 64 and twice that).
inline constexpr std::array<int, 9> kIconSizes{16, 22, 24, 32, 44, 48, 64, 96, 128};

// The fixed dot colour of a VPN state; it does not follow the theme.
QColor dotColor(const QString &state);

// The dot for an icon `size` px across: kDotRect scaled from kSize.
QRectF dotRect(int size);

// ":/icon-256.png" as read, once; null if missing.
QImage loadBaseImage();

// The base scaled once to each of kIconSizes, in that order.
QList<QImage> scaledBases(const QImage &base);

// The base image (already at its icon size) with the state's dot over its
// lower-right corner, drawn at that size.
QImage compose(const QImage &base, const QString &state);

// Every scaled base composed with the state's dot, as one icon.
QIcon composeIcon(const QList<QImage> &bases, const QString &state);

// "Kestrix v1.4.2 — connected"; "Kestrix — disconnected" before a version.
// A note, when there is one, follows on lines of its own.
QString toolTip(const QString &version, const QString &state, const QString &note = {});

// The middle of the icon's top edge, or the cursor when the platform cannot
// tell where the icon is.
QPoint popupAnchor(const QRect &iconGeometry, const QPoint &cursor);

} // namespace TrayIcon
