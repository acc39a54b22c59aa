#include "app/appicon.h"

#include <QImage>
#include <QPixmap>

QIcon iconInSizes(const QString &path)
{
    const QImage source(path);
    QIcon icon;
    if (source.isNull())
        return icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(
            source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    return icon;
}
