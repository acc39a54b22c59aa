#include "ipc/diagcopy.h"

#include "ipc/regularfile.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

QString diagFileName(const QString &sourcePath)
{
    const qsizetype cut =
        qMax(sourcePath.lastIndexOf(QLatin1Char('/')), sourcePath.lastIndexOf(QLatin1Char('\\')));
    return sourcePath.mid(cut + 1);
}

QString diagnosticsFolder()
{
    for (const auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DownloadLocation,
                                QStandardPaths::HomeLocation}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    }
    return {};
}

QString copyDiagnostics(const QString &sourcePath, const QString &destinationDir, qint64 maxBytes)
{
    const QString name = diagFileName(sourcePath);
    if (destinationDir.isEmpty() || name.isEmpty() || name == QLatin1String(".") ||
        name == QLatin1String(".."))
        return {};

    QFile in;
    if (!openRegularFile(in, sourcePath, LinkPolicy::Refuse, maxBytes))
        return {};

    // Created with O_EXCL under a fresh name: nothing planted there can take the bytes.
    QTemporaryFile out(destinationDir + QStringLiteral("/.") + name + QStringLiteral(".XXXXXX"));
    if (!out.open())
        return {};
    char chunk[64 * 1024];
    qint64 total = 0;
    for (;;) {
        const qint64 n = in.read(chunk, sizeof chunk);
        if (n < 0)
            return {};
        if (n == 0)
            break;
        total += n;
        if (total > maxBytes || out.write(chunk, n) != n)
            return {}; // the temporary file removes itself
    }
    out.close();
    if (out.error() != QFileDevice::NoError)
        return {};

    // A rename replaces a link at the destination, never the file it points to.
    const QString destination = destinationDir + QLatin1Char('/') + name;
    if (!replaceFile(out.fileName(), destination))
        return {};
    out.setAutoRemove(false);
    return destination;
}
