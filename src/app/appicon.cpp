#include "app/appicon.h"

#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

class ResampledIconEngine final : public QIconEngine
{
public:
    explicit ResampledIconEngine(QString path) : m_path(std::move(path)) {}

    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        if (size.isEmpty())
            return {};
        const QImage source = QImageReader(m_path).read();
        if (source.isNull())
            return {};
        return QPixmap::fromImage(
            source.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode,
               QIcon::State state) override
    {
        const QPixmap drawn = pixmap(rect.size(), mode, state);
        if (drawn.isNull())
            return;
        QRect target(QPoint(), drawn.size());
        target.moveCenter(rect.center());
        painter->drawPixmap(target, drawn);
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        // The image is square; a request that is not gets the smaller side.
        const int side = qMin(size.width(), size.height());
        return {side, side};
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (const int side : kSizes)
            sizes.append(QSize(side, side));
        return sizes;
    }

    QIconEngine *clone() const override { return new ResampledIconEngine(m_path); }
    QString key() const override { return QStringLiteral("ResampledIconEngine"); }
    bool isNull() override { return false; }

private:
    const QString m_path;
};

} // namespace

QIcon iconInSizes(const QString &path)
{
    // Only the header is read here; the pixels when a size is asked for.
    if (!QImageReader(path).canRead())
        return {};
    return QIcon(new ResampledIconEngine(path));
}
