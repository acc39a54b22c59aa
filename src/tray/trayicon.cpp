#include "tray/trayicon.h"

#include <QPainter>

namespace TrayIcon {

QColor dotColor(const QString &state)
{
    if (state == QLatin1String("connected"))
        return QColor(0x2F, 0xBF, 0x71);
    if (state == QLatin1String("connecting") || state == QLatin1String("reconnecting"))
        return QColor(0xF0, 0xA5, 0x00);
    if (state == QLatin1String("failed"))
        return QColor(0xE5, 0x48, 0x4D);
    return QColor(0x8A, 0x93, 0xA3); // every other word, including "" and "Connected"
}

QImage loadBaseImage()
{
    const QImage source(QStringLiteral(":/icon-256.png"));
    if (source.isNull())
        return {};
    return source.scaled(kSize, kSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage compose(const QImage &base, const QString &state)
{
    QImage canvas(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.drawImage(QPoint(0, 0), base);
    painter.setPen(Qt::NoPen);
    painter.setBrush(dotColor(state));
    painter.drawEllipse(kDotRect);
    painter.end();
    return canvas;
}

QString toolTip(const QString &version, const QString &state, const QString &note)
{
    const QString title =
        version.isEmpty() ? QStringLiteral("Kestrix") : QStringLiteral("Kestrix v%1").arg(version);
    const QString line = QStringLiteral("%1 \u2014 %2").arg(title, state);
    return note.isEmpty() ? line : line + u'\n' + note;
}

QPoint popupAnchor(const QRect &iconGeometry, const QPoint &cursor)
{
    if (!iconGeometry.isValid())
        return cursor;
    // 64-bit sum: edges near INT_MAX must not overflow.
    const qint64 centre = (qint64(iconGeometry.left()) + iconGeometry.right()) / 2;
    return QPoint(int(centre), iconGeometry.top());
}

} // namespace TrayIcon
