#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// A reader for desktop entry files written from the freedesktop.org rules,
// independent of the code that writes them: it is how a session starts the
// entry, so an entry it cannot read back is an entry that does not work.
namespace DesktopEntry {

// The keys of the [Desktop Entry] group with their raw values; empty when the
// file does not start with that group.
inline QMap<QString, QString> mainGroup(const QByteArray &contents)
{
    QMap<QString, QString> keys;
    const QList<QByteArray> lines = contents.split('\n');
    if (lines.isEmpty() || lines.first() != "[Desktop Entry]")
        return keys;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines.at(i));
        if (line.startsWith(QLatin1Char('[')))
            break;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return keys;
}

// Splits an Exec value into its arguments: the string escapes first, then
// the quoting, with "%%" as a literal percent sign. Returns {"<invalid>"} for
// anything the rules do not allow (a reserved character outside quotes, an
// unknown escape inside them, a field code, an unterminated quote).
inline QStringList execArguments(const QString &value)
{
    const QStringList invalid{QStringLiteral("<invalid>")};

    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != u'\\' || i + 1 == value.size()) {
            unescaped += c;
            continue;
        }
        const QChar next = value.at(++i);
        if (next == u's')
            unescaped += u' ';
        else if (next == u'n')
            unescaped += u'\n';
        else if (next == u't')
            unescaped += u'\t';
        else if (next == u'r')
            unescaped += u'\r';
        else if (next == u'\\')
            unescaped += u'\\';
        else
            unescaped.append(c).append(next);
    }

    const QString reserved = QStringLiteral("\"'\\><~|&;$*?#()`");
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped.at(i);
        if (c == u'%') {
            if (i + 1 == unescaped.size() || unescaped.at(i + 1) != u'%')
                return invalid;
            current += u'%';
            inArgument = true;
            ++i;
        } else if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else if (c == u'\\') {
                if (i + 1 == unescaped.size())
                    return invalid;
                const QChar next = unescaped.at(++i);
                if (!QStringLiteral("\"`$\\").contains(next))
                    return invalid;
                current += next;
            } else if (c == u'`' || c == u'$') {
                return invalid; // must be escaped even inside quotes
            } else {
                current += c;
            }
        } else if (c == u' ') {
            if (inArgument)
                arguments << current;
            current.clear();
            inArgument = false;
        } else if (c == u'"') {
            quoted = true;
            inArgument = true;
        } else if (reserved.contains(c) || c == u'\n' || c == u'\t') {
            return invalid;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted)
        return invalid;
    if (inArgument)
        arguments << current;
    return arguments;
}

} // namespace DesktopEntry
