// Runs qmllint over the interface and fails on any warning, except the
// missing type information of Debian's Qt5Compat (see isPackagingGap) and two
// kinds of "Unqualified access" that this qmllint reports although they
// resolve at run time:
// - the context objects that main.cpp publishes (pipeClient, trayManager,
//   appSettings), which qmllint cannot know;
// - an id of the same document used inside an explicit Component { } (a
//   Loader's screen, say), which shares the document's ids.
// An id that exists nowhere, or one reached from inside an inline
// `component X:` declared outside it (inline components do not share the
// document's ids), still fails the check.
//
// Usage: qmllintcheck <qmllint> <name,name,...> <qmllint arguments and files>

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

namespace {

struct Range
{
    qsizetype begin;
    qsizetype end;
    bool contains(qsizetype offset) const { return offset >= begin && offset < end; }
};

// The spans of the inline components of a document, from their keyword to
// their closing brace (braces in strings and comments are not expected).
QList<Range> inlineComponents(const QString &source)
{
    QList<Range> ranges;
    static const QRegularExpression keyword(QStringLiteral(R"(\bcomponent\s+\w+\s*:)"));
    for (auto it = keyword.globalMatch(source); it.hasNext();) {
        const auto match = it.next();
        qsizetype pos = source.indexOf(u'{', match.capturedEnd());
        if (pos < 0)
            continue;
        int depth = 0;
        for (; pos < source.size(); ++pos) {
            if (source.at(pos) == u'{')
                ++depth;
            else if (source.at(pos) == u'}' && --depth == 0)
                break;
        }
        ranges.append({match.capturedStart(), pos + 1});
    }
    return ranges;
}

// The inline component holding the offset, or -1 for the document itself.
int scopeOf(const QList<Range> &ranges, qsizetype offset)
{
    for (int i = 0; i < ranges.size(); ++i)
        if (ranges.at(i).contains(offset))
            return i;
    return -1;
}

// Every id of the document, with the scope that declares it.
QMultiHash<QString, int> documentIds(const QString &source, const QList<Range> &ranges)
{
    QMultiHash<QString, int> ids;
    static const QRegularExpression declaration(QStringLiteral(R"(\bid\s*:\s*(\w+))"));
    for (auto it = declaration.globalMatch(source); it.hasNext();) {
        const auto match = it.next();
        ids.insert(match.captured(1), scopeOf(ranges, match.capturedStart()));
    }
    return ids;
}

// Debian's Qt5Compat ships its private GraphicalEffects module without type
// information: qmllint reports that on whichever file first imports the
// module, though nothing in that file is wrong.
bool isPackagingGap(const QString &message)
{
    return message.contains(QLatin1String("Qt5Compat/GraphicalEffects/private/plugins.qmltypes")) ||
           message ==
               QLatin1String(
                   "Warnings occurred while importing module \"Qt5Compat.GraphicalEffects\":");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    if (args.size() < 3) {
        err << "usage: qmllintcheck <qmllint> <allowed,names> <arguments and files>\n";
        return 2;
    }
    const QString qmllint = args.takeFirst();
    const QStringList allowedList = args.takeFirst().split(u',', Qt::SkipEmptyParts);
    const QSet<QString> allowed(allowedList.cbegin(), allowedList.cend());

    QProcess lint;
    lint.setProcessChannelMode(QProcess::SeparateChannels);
    lint.start(qmllint, args + QStringList{QStringLiteral("--json"), QStringLiteral("-")});
    if (!lint.waitForFinished(300000)) {
        err << "qmllint did not run: " << lint.errorString() << '\n';
        return 2;
    }
    const QByteArray output = lint.readAllStandardOutput();
    QJsonParseError parseError;
    const QJsonDocument report = QJsonDocument::fromJson(output, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        err << "qmllint gave no report: " << parseError.errorString() << '\n'
            << lint.readAllStandardError() << '\n';
        return 2;
    }

    int failures = 0;
    int filesChecked = 0;
    const QJsonArray files = report.object().value(QStringLiteral("files")).toArray();
    for (const QJsonValue &fileValue : files) {
        const QJsonObject file = fileValue.toObject();
        const QString path = file.value(QStringLiteral("filename")).toString();
        ++filesChecked;
        QString source;
        QFile sourceFile(path);
        if (sourceFile.open(QIODevice::ReadOnly))
            source = QString::fromUtf8(sourceFile.readAll());
        const QList<Range> inlineRanges = inlineComponents(source);
        const QMultiHash<QString, int> ids = documentIds(source, inlineRanges);

        const QJsonArray warnings = file.value(QStringLiteral("warnings")).toArray();
        for (const QJsonValue &warningValue : warnings) {
            const QJsonObject warning = warningValue.toObject();
            const QString type = warning.value(QStringLiteral("type")).toString();
            if (type == QLatin1String("info"))
                continue;
            const QString message = warning.value(QStringLiteral("message")).toString();
            // Offsets count UTF-16 units, like QString.
            const qsizetype offset = warning.value(QStringLiteral("charOffset")).toInt();
            const QString identifier =
                source.mid(offset, warning.value(QStringLiteral("length")).toInt());
            if (isPackagingGap(message))
                continue;
            if (message == QLatin1String("Unqualified access") &&
                (allowed.contains(identifier) ||
                 ids.contains(identifier, scopeOf(inlineRanges, offset))))
                continue;
            ++failures;
            err << path << ':' << warning.value(QStringLiteral("line")).toInt() << ':'
                << warning.value(QStringLiteral("column")).toInt() << ": " << type << ": "
                << message;
            if (!identifier.isEmpty())
                err << " [" << identifier << ']';
            err << '\n';
        }
        if (!file.value(QStringLiteral("success")).toBool() && warnings.isEmpty()) {
            ++failures;
            err << path << ": qmllint failed without a warning (syntax error?)\n";
        }
    }
    if (filesChecked == 0) {
        err << "qmllint checked no file\n";
        return 2;
    }
    err.flush();
    QTextStream(stdout) << filesChecked << " files checked, " << failures << " problems\n";
    return failures == 0 ? 0 : 1;
}
