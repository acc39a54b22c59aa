// Draws the Kestrix mark: a "K" in white on a deep blue tile, whose lower leg
// ends in a round foot. The tray icon leaves the foot out, because the tray
// paints its status dot exactly there; the logo draws it in white.
//
//   makeicons <icon.png> <logo.png> [<preview.png>]
//
// The build also runs it to make the icon theme's sizes from icon.png:
//
//   makeicons --hicolor <icon.png> <folder> <name> <size>...
//
// writes <folder>/<size>x<size>/apps/<name>.png for each size.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>

#include <cmath>
#include <cstdio>

namespace {

// The tray's status dot, as a fraction of the icon: 11 px at (19, 19) of 32.
const QPointF kFootCentre(24.5 / 32.0, 24.5 / 32.0);
constexpr double kFootRadius = 5.5 / 32.0;

constexpr double kMargin = 0.03;
constexpr double kCornerRadius = 0.22;
constexpr double kStroke = 0.145;
// Clear space between the end of the leg and the foot.
constexpr double kFootGap = 0.075;

// The letter in pixels: stroked at the final size so the round caps stay round.
QPainterPath letterK(double size)
{
    const QPointF stemTop(0.28, 0.20);
    const QPointF stemBottom(0.28, 0.80);
    const QPointF junction(0.28, 0.56);
    const QPointF armEnd(0.70, 0.20);

    // The leg leaves the arm and points at the foot, stopping short of it so
    // that the foot (or the status dot) stands apart.
    const QPointF legStart = junction + (armEnd - junction) * 0.3;
    const QPointF towardFoot = kFootCentre - legStart;
    const double distance = std::hypot(towardFoot.x(), towardFoot.y());
    const double length = distance - kFootRadius - kFootGap - kStroke / 2;
    const QPointF legEnd = legStart + towardFoot * (length / distance);

    QPainterPath strokes;
    strokes.moveTo(stemTop * size);
    strokes.lineTo(stemBottom * size);
    strokes.moveTo(junction * size);
    strokes.lineTo(armEnd * size);
    strokes.moveTo(legStart * size);
    strokes.lineTo(legEnd * size);

    QPainterPathStroker stroker;
    stroker.setWidth(kStroke * size);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(strokes).simplified();
}

QImage drawMark(int size, bool withFoot)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.scale(size, size);
    painter.setPen(Qt::NoPen);

    // Lighter at the top left, darkest at the lower right where the dot sits.
    QLinearGradient tile(QPointF(0, 0), QPointF(1, 1));
    tile.setColorAt(0.0, QColor(0x3B, 0x6F, 0xE0));
    tile.setColorAt(1.0, QColor(0x14, 0x22, 0x4A));
    painter.setBrush(tile);
    const QRectF tileRect(kMargin, kMargin, 1 - 2 * kMargin, 1 - 2 * kMargin);
    painter.drawRoundedRect(tileRect, kCornerRadius, kCornerRadius);

    painter.resetTransform();
    painter.setBrush(Qt::white);
    painter.drawPath(letterK(size));
    if (withFoot)
        painter.drawEllipse(kFootCentre * size, kFootRadius * size, kFootRadius * size);
    painter.end();
    return image;
}

// The tray sizes side by side, with the status dot as the tray draws it.
QImage preview(const QImage &icon)
{
    const int sizes[] = {16, 22, 32, 64};
    QImage sheet(4 * 72, 72, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(0x20, 0x20, 0x20));
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::Antialiasing, true);
    int x = 4;
    for (int s : sizes) {
        QImage small = icon.scaled(s, s, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPainter dot(&small);
        dot.setRenderHint(QPainter::Antialiasing, true);
        dot.setPen(Qt::NoPen);
        dot.setBrush(QColor(0x2F, 0xBF, 0x71));
        dot.drawEllipse(QRectF(19.0 / 32 * s, 19.0 / 32 * s, 11.0 / 32 * s, 11.0 / 32 * s));
        dot.end();
        painter.drawImage(x, 4, small);
        x += 72;
    }
    return sheet;
}

// Halves the image step by step before the last scaling: one smooth step from
// 1254 px down to 16 px would skip most source pixels and look ragged.
QImage scaledDown(QImage image, int size)
{
    while (image.width() >= 2 * size)
        image = image.scaled(image.width() / 2, image.height() / 2, Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
    return image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

int writeHicolor(int argc, char *argv[])
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: makeicons --hicolor <icon.png> <folder> <name> <size>...\n");
        return 2;
    }
    const QImage source(QString::fromLocal8Bit(argv[2]));
    if (source.isNull() || source.width() != source.height()) {
        std::fprintf(stderr, "makeicons: %s is not a square image\n", argv[2]);
        return 1;
    }
    const QString folder = QString::fromLocal8Bit(argv[3]);
    const QString name = QString::fromLocal8Bit(argv[4]);
    for (int i = 5; i < argc; ++i) {
        bool ok = false;
        const int size = QByteArray(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > source.width()) {
            std::fprintf(stderr, "makeicons: bad size %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder, QString::number(size));
        if (!QDir().mkpath(dir) ||
            !scaledDown(source, size).save(dir + u'/' + name + QLatin1String(".png")))
            return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--hicolor") == 0)
        return writeHicolor(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: makeicons <icon.png> <logo.png> [<preview.png>]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QImage icon = drawMark(1254, false);
    const QImage logo = drawMark(1024, true);
    if (!icon.save(QString::fromLocal8Bit(argv[1])) || !logo.save(QString::fromLocal8Bit(argv[2])))
        return 1;
    if (argc > 3 && !preview(icon).save(QString::fromLocal8Bit(argv[3])))
        return 1;
    return 0;
}
