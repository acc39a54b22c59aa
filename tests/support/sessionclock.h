#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Checks a session clock's text ("MM:SS" or "H:MM:SS") against the time
// since `since`: the clock shows it as of its last tick, some moment between
// `notBefore` (taken before the test set the clock going) and now. Empty when
// it matches, otherwise what is wrong. No fixed allowance: the window is as
// wide as the test was slow.
inline QString sessionClockMismatch(const QString &text, const QDateTime &since,
                                    const QDateTime &notBefore)
{
    const QStringList parts = text.split(u':');
    if (parts.size() < 2 || parts.size() > 3)
        return QStringLiteral("not a clock: \"%1\"").arg(text);
    qint64 shown = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok || value < 0 || (part != parts.constFirst() && (value > 59 || part.size() != 2)))
            return QStringLiteral("not a clock: \"%1\"").arg(text);
        shown = shown * 60 + value;
    }
    const qint64 earliest = since.msecsTo(notBefore) / 1000;
    const qint64 latest = (since.msecsTo(QDateTime::currentDateTimeUtc()) + 999) / 1000;
    if (shown < earliest || shown > latest)
        return QStringLiteral("\"%1\" is %2 s; expected %3 to %4 s")
            .arg(text)
            .arg(shown)
            .arg(earliest)
            .arg(latest);
    return {};
}
