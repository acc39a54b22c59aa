#include "tray/trayicon.h"

#include <QPainter>
#include <QPixmap>

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

QRectF dotRect(int size)
{
    const qreal scale = qreal(size) / kSize;
    return QRectF(kDotRect.x() * scale, kDotRect.y() * scale, kDotRect.width() * scale,
                  kDotRect.height() * scale);
}

QImage loadBaseImage()
{
    // Scaled as read: each size is then converted, as one 32 px image was before.
    return QImage(QStringLiteral(":/icon-256.png"));
}

QList<QImage> scaledBases(const QImage &base)
{
    QList<QImage> bases;
    bases.reserve(qsizetype(kIconSizes.size()));
    for (const int size : kIconSizes) {
        QImage scaled =
            base.isNull() ? QImage()
                          : base.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (scaled.isNull()) {
            // Without the image the dot alone still tells the state.
            scaled = QImage(size, size, QImage::Format_ARGB32_Premultiplied);
            scaled.fill(Qt::transparent);
        }
        bases << scaled.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return bases;
}

QImage compose(const QImage &base, const QString &state)
{
    const int size = qMax(base.width(), 1);
    QImage canvas(size, size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.drawImage(QPoint(0, 0), base);
    painter.setPen(Qt::NoPen);
    painter.setBrush(dotColor(state));
    painter.drawEllipse(dotRect(size));
    painter.end();
    return canvas;
}

QIcon composeIcon(const QList<QImage> &bases, const QString &state)
{
    QIcon icon;
    for (const QImage &base : bases)
        icon.addPixmap(QPixmap::fromImage(compose(base, state)));
    return icon;
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
