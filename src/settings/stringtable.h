#pragma once

#include <QString>
#include <QVariantMap>

// The interface texts in both languages, keyed by short identifiers. Both
// tables are built together on first use (safe against concurrent first use),
// never change, and live until the process exits.
namespace StringTable {

const QVariantMap &english();
const QVariantMap &russian();

// The Russian table for exactly "ru", the English one for anything else.
// A shared copy: no text is converted or copied.
QVariantMap forLanguage(const QString &code);

} // namespace StringTable
