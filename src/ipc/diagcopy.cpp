#include "ipc/diagcopy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString diagFileName(const QString &sourcePath)
{
    const qsizetype cut =
        qMax(sourcePath.lastIndexOf(QLatin1Char('/')), sourcePath.lastIndexOf(QLatin1Char('\\')));
    return sourcePath.mid(cut + 1);
}

QString copyDiagnostics(const QString &sourcePath, const QString &destinationDir)
{
    const QString name = diagFileName(sourcePath);
    if (destinationDir.isEmpty() || name.isEmpty() || name == QLatin1String(".") ||
        name == QLatin1String(".."))
        return {};

    const QFileInfo source(sourcePath);
    if (source.isSymLink() || !source.isFile())
        return {};

    QFile in(sourcePath);
    if (!in.open(QIODevice::ReadOnly))
        return {};

    const QString destination = destinationDir + QLatin1Char('/') + name;
    if (QFileInfo(destination).isDir())
        return {};

    QSaveFile out(destination);
    // Never fall back to writing in place: a failed copy must not cost the
    // user the file that is already on the desktop.
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return {};
    char chunk[64 * 1024];
    for (;;) {
        const qint64 n = in.read(chunk, sizeof chunk);
        if (n < 0) {
            out.cancelWriting();
            return {};
        }
        if (n == 0)
            break;
        if (out.write(chunk, n) != n) {
            out.cancelWriting();
            return {};
        }
    }
    if (!out.commit())
        return {};
    return destination;
}
