#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes a zip archive whose entries are stored uncompressed: enough for a
// diagnostics bundle, readable by every unzip tool, no compression library.
namespace StoredZip {

struct Entry
{
    QString name; // path inside the archive, forward slashes
    QByteArray data;
};

quint32 crc32(const QByteArray &data);

// The whole archive as bytes.
QByteArray build(const QList<Entry> &entries);

// Writes the archive atomically; on failure returns false and sets *error.
bool write(const QString &path, const QList<Entry> &entries, QString *error);

} // namespace StoredZip
