#include "storedzip.h"

#include <QDateTime>
#include <QSaveFile>

#include <array>

namespace StoredZip {
namespace {

void put16(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xff));
    out.append(char((v >> 8) & 0xff));
}

void put32(QByteArray &out, quint32 v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// MS-DOS date and time, the only timestamp a plain zip header carries.
void dosDateTime(quint32 *time, quint32 *date)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    *time = quint32((t.hour() << 11) | (t.minute() << 5) | (t.second() / 2));
    *date = quint32(((qMax(d.year(), 1980) - 1980) << 9) | (d.month() << 5) | d.day());
}

} // namespace

quint32 crc32(const QByteArray &data)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xffffffffu;
    for (const char byte : data)
        crc = table[(crc ^ quint8(byte)) & 0xff] ^ (crc >> 8);
    return crc ^ 0xffffffffu;
}

QByteArray build(const QList<Entry> &entries)
{
    constexpr quint32 kUtf8Names = 0x0800;
    constexpr quint32 kVersionNeeded = 10; // 1.0: stored entries only
    constexpr quint32 kMadeByUnix = (3 << 8) | 20;
    constexpr quint32 kRegularFile0644 = 0100644u << 16;

    quint32 time = 0, date = 0;
    dosDateTime(&time, &date);

    QByteArray archive;
    QByteArray directory;
    for (const Entry &entry : entries) {
        const QByteArray name = entry.name.toUtf8();
        const quint32 crc = crc32(entry.data);
        const quint32 size = quint32(entry.data.size());
        const quint32 offset = quint32(archive.size());

        put32(archive, 0x04034b50);
        put16(archive, kVersionNeeded);
        put16(archive, kUtf8Names);
        put16(archive, 0); // stored
        put16(archive, time);
        put16(archive, date);
        put32(archive, crc);
        put32(archive, size);
        put32(archive, size);
        put16(archive, quint32(name.size()));
        put16(archive, 0);
        archive.append(name);
        archive.append(entry.data);

        put32(directory, 0x02014b50);
        put16(directory, kMadeByUnix);
        put16(directory, kVersionNeeded);
        put16(directory, kUtf8Names);
        put16(directory, 0);
        put16(directory, time);
        put16(directory, date);
        put32(directory, crc);
        put32(directory, size);
        put32(directory, size);
        put16(directory, quint32(name.size()));
        put16(directory, 0); // extra
        put16(directory, 0); // comment
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, kRegularFile0644);
        put32(directory, offset);
        directory.append(name);
    }

    const quint32 directoryOffset = quint32(archive.size());
    archive.append(directory);
    put32(archive, 0x06054b50);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, quint32(entries.size()));
    put16(archive, quint32(entries.size()));
    put32(archive, quint32(directory.size()));
    put32(archive, directoryOffset);
    put16(archive, 0);
    return archive;
}

bool write(const QString &path, const QList<Entry> &entries, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(build(entries)) < 0 || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace StoredZip
