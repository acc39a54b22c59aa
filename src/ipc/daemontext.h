#pragma once

#include <QJsonObject>
#include <QLatin1StringView>
#include <QString>

// Texts from the daemon that the interface shows. The daemon's word is not
// trusted to be short: one unbroken word of a million characters takes the
// text layout over a minute. Every such text is cut before any binding sees it.
namespace DaemonText {

inline constexpr qsizetype kMaxChars = 1000;

// At most kMaxChars characters of text, followed by "…" when something was
// cut off. A surrogate pair is never split: the cut moves before it.
QString bounded(const QString &text);

// A string field read with the protocol's defaults, then bounded().
QString read(const QJsonObject &obj, QLatin1StringView key);

} // namespace DaemonText
