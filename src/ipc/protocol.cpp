#include "ipc/protocol.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace Protocol {

QByteArray encode(const QJsonObject &message)
{
    QByteArray line = QJsonDocument(message).toJson(QJsonDocument::Compact);
    line.append('\n');
    return line;
}

QByteArray handshake(const QString &token)
{
    return encode(QJsonObject{{QStringLiteral("magic"), QString::fromLatin1(kMagic)},
                              {QStringLiteral("version"), kVersion},
                              {QStringLiteral("token"), token}});
}

QByteArray command(const QString &cmd)
{
    return encode(QJsonObject{{QStringLiteral("cmd"), cmd}});
}

QByteArray command(const QString &cmd, const QJsonObject &payload)
{
    return encode(QJsonObject{{QStringLiteral("cmd"), cmd}, {QStringLiteral("payload"), payload}});
}

QString readString(const QJsonObject &obj, const QString &key)
{
    const QJsonValue v = obj.value(key);
    return v.isString() ? v.toString() : QString();
}

int readInt(const QJsonObject &obj, const QString &key)
{
    const QJsonValue v = obj.value(key);
    if (!v.isDouble())
        return 0;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d))
        return 0;
    if (d < double(std::numeric_limits<int>::min()) || d > double(std::numeric_limits<int>::max()))
        return 0;
    return int(d);
}

qint64 readCount(const QJsonObject &obj, const QString &key)
{
    const QJsonValue v = obj.value(key);
    if (!v.isDouble())
        return 0;
    const double d = std::trunc(v.toDouble());
    // A byte count below zero means nothing; keeping counts non-negative also
    // keeps every difference of two counts inside the 64-bit range.
    if (!(d > 0))
        return 0;
    // 2^63 is exactly representable; anything at or beyond it would overflow.
    constexpr double kLimit = 9223372036854775808.0;
    if (d >= kLimit)
        return std::numeric_limits<qint64>::max();
    return qint64(d);
}

bool readBool(const QJsonObject &obj, const QString &key)
{
    const QJsonValue v = obj.value(key);
    return v.isBool() && v.toBool();
}

} // namespace Protocol
