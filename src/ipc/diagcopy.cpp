#include "ipc/diagcopy.h"

#include "ipc/fileowner.h"
#include "ipc/regularfile.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>

QString diagFileName(const QString &sourcePath)
{
    const qsizetype cut =
        qMax(sourcePath.lastIndexOf(QLatin1Char('/')), sourcePath.lastIndexOf(QLatin1Char('\\')));
    return sourcePath.mid(cut + 1);
}

bool isPlainFileName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        return false; // "." and ".." included
    return std::none_of(name.cbegin(), name.cend(), [](QChar c) {
        const QChar::Category category = c.category();
        return c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') ||
               category == QChar::Other_Control || category == QChar::Other_Format;
    });
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
    DiagCopyOptions options;
    options.maxBytes = maxBytes;
    return copyDiagnostics(sourcePath, destinationDir, options);
}

QString copyDiagnostics(const QString &sourcePath, const QString &destinationDir,
                        const DiagCopyOptions &options)
{
    const QString name = diagFileName(sourcePath);
    if (destinationDir.isEmpty() || !isPlainFileName(name))
        return {};
    const auto cancelled = [&options] {
        return options.cancelled && options.cancelled->load(std::memory_order_relaxed);
    };

    QFile in;
    if (!openRegularFile(in, sourcePath, LinkPolicy::Refuse, options.maxBytes) ||
        !isOwnedBySystemOrUs(in.handle()))
        return {};

    // Created with O_EXCL under a fresh name: nothing planted there can take the bytes.
    QTemporaryFile out(destinationDir + QStringLiteral("/.") + name + QStringLiteral(".XXXXXX"));
    if (!out.open())
        return {};
    char chunk[64 * 1024];
    qint64 total = 0;
    for (;;) {
        if (cancelled())
            return {}; // the temporary file removes itself
        const qint64 n = in.read(chunk, sizeof chunk);
        if (n < 0)
            return {};
        if (n == 0)
            break;
        // The size checked at open says nothing of a file that grows, or of
        // one (in /proc, say) whose reported size is not its content's.
        total += n;
        if (total > options.maxBytes || out.write(chunk, n) != n)
            return {};
        if (options.afterChunk)
            options.afterChunk();
    }
    out.close();
    if (out.error() != QFileDevice::NoError || cancelled())
        return {};

    // A rename replaces a link at the destination, never the file it points to.
    const QString destination = destinationDir + QLatin1Char('/') + name;
    if (!replaceFile(out.fileName(), destination))
        return {};
    out.setAutoRemove(false);
    return destination;
}
