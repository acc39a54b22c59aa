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
    // Half a surrogate pair is no character, and no file name either.
    if (!name.isValidUtf16())
        return false;
    // By code point, not by UTF-16 unit: an astral format character (a tag
    // such as U+E0041) is invisible too.
    const auto codePoints = name.toUcs4();
    return std::none_of(codePoints.cbegin(), codePoints.cend(), [](auto codePoint) {
        const auto c = char32_t(codePoint);
        switch (QChar::category(c)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        default:
            break;
        }
#ifdef Q_OS_WIN
        if (c == U':')
            return true;
#endif
        return c == U'/' || c == U'\\';
    });
}

QString numberedFileName(const QString &name, int n)
{
    if (n <= 1)
        return name;
    // "name (2).zip" as desktop file managers number copies; no leading dot
    // is an extension, and a plain name has none.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const qsizetype cut = dot > 0 ? dot : name.size();
    return name.left(cut) + QStringLiteral(" (%1)").arg(n) + name.mid(cut);
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
        !isOwnedByTrustedAccount(in.handle(), options.serviceAccount))
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

    // The user's own file of that name, or a link planted there, stays as
    // it is: the copy takes the first name nothing has.
    for (int n = 1; n <= kMaxCopyNames; ++n) {
        const QString destination = destinationDir + QLatin1Char('/') + numberedFileName(name, n);
        switch (moveWithoutReplacing(out.fileName(), destination)) {
        case MoveOutcome::Moved:
            out.setAutoRemove(false);
            return destination;
        case MoveOutcome::NameTaken:
            continue;
        case MoveOutcome::Failed:
            return {};
        }
    }
    return {};
}
