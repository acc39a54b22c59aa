#include "buslog.h"

#include <QHash>
#include <QPair>
#include <QRegularExpression>

namespace BusLog {

namespace {

struct Message
{
    QByteArray header;
    QList<QByteArray> args; // each top-level argument with its inner lines
};

// dbus-monitor starts each message at the line's start and indents its
// arguments by three spaces, their parts further.
QList<Message> messages(const QByteArray &log)
{
    QList<Message> list;
    for (const QByteArray &line : log.split('\n')) {
        if (line.isEmpty())
            continue;
        if (line.at(0) != ' ') {
            list.append({line, {}});
        } else if (!list.isEmpty()) {
            // The brackets that close an argument stand where it began.
            const bool topLevel = line.startsWith("   ") && line.size() > 3 &&
                                  !QByteArray(" ])}").contains(line.at(3));
            if (topLevel || list.last().args.isEmpty())
                list.last().args.append(line.trimmed());
            else
                list.last().args.last() += '\n' + line.trimmed();
        }
    }
    return list;
}

QByteArray field(const QByteArray &header, const char *name)
{
    const QRegularExpression re(QStringLiteral("(?:^| )%1=([^ ;]+)").arg(QLatin1String(name)));
    return re.match(QString::fromUtf8(header)).captured(1).toUtf8();
}

// `string "text"` -> text; `uint32 7` -> 7.
QString value(const QByteArray &arg)
{
    const QByteArray first = arg.left(arg.indexOf('\n') < 0 ? arg.size() : arg.indexOf('\n'));
    if (first.startsWith("string \"") && first.endsWith('"'))
        return QString::fromUtf8(first.mid(8, first.size() - 9));
    return QString::fromUtf8(first.mid(first.indexOf(' ') + 1));
}

QMap<QString, QString> hints(const QByteArray &arg)
{
    QMap<QString, QString> map;
    const QList<QByteArray> lines = arg.split('\n');
    for (qsizetype i = 0; i + 2 < lines.size(); ++i) {
        if (lines.at(i) != "dict entry(")
            continue;
        const QString key = value(lines.at(i + 1));
        QByteArray variant = lines.at(i + 2);
        if (variant.startsWith("variant"))
            variant = variant.mid(7).simplified();
        map.insert(key, QString::fromUtf8(variant));
    }
    return map;
}

} // namespace

QList<Notification> notifications(const QByteArray &log)
{
    QList<Notification> sent;
    QHash<QPair<QByteArray, QByteArray>, qsizetype> pending; // (sender, serial) -> index
    for (const Message &m : messages(log)) {
        if (m.header.startsWith("method call ") &&
            m.header.contains("interface=org.freedesktop.Notifications;") &&
            m.header.contains("member=Notify") && m.args.size() == 8 &&
            // What applications send; GNOME's service passes each on to
            // the shell under its unique name.
            field(m.header, "destination") == "org.freedesktop.Notifications") {
            Notification n;
            n.sender = QString::fromUtf8(field(m.header, "sender"));
            n.appName = value(m.args.at(0));
            n.replacesId = value(m.args.at(1)).toUInt();
            n.appIcon = value(m.args.at(2));
            n.summary = value(m.args.at(3));
            n.body = value(m.args.at(4));
            n.hints = hints(m.args.at(6));
            n.timeout = value(m.args.at(7)).toInt();
            pending.insert({field(m.header, "sender"), field(m.header, "serial")}, sent.size());
            sent.append(n);
        } else if (m.header.startsWith("method return ") && !m.args.isEmpty()) {
            const auto key =
                qMakePair(field(m.header, "destination"), field(m.header, "reply_serial"));
            if (const auto it = pending.constFind(key); it != pending.cend())
                sent[*it].id = value(m.args.constFirst()).toUInt();
        }
    }
    return sent;
}

QStringList newStatuses(const QByteArray &log)
{
    QStringList statuses;
    for (const Message &m : messages(log)) {
        if (m.header.startsWith("signal ") &&
            m.header.contains("interface=org.kde.StatusNotifierItem;") &&
            m.header.contains("member=NewStatus") && !m.args.isEmpty())
            statuses << value(m.args.constFirst());
    }
    return statuses;
}

} // namespace BusLog
