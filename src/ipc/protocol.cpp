#include "ipc/protocol.h"

#include <QJsonDocument>

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

QString readString(const QJsonValue &v)
{
    return v.isString() ? v.toString() : QString();
}

QString readString(const QJsonObject &obj, QLatin1StringView key)
{
    return readString(obj.value(key));
}

int readInt(const QJsonValue &v)
{
    return v.isDouble() ? intFromNumber(v.toDouble()) : 0;
}

int intFromNumber(double d)
{
    if (!std::isfinite(d) || d != std::trunc(d))
        return 0;
    if (d < double(std::numeric_limits<int>::min()) || d > double(std::numeric_limits<int>::max()))
        return 0;
    return int(d);
}

int readInt(const QJsonObject &obj, QLatin1StringView key)
{
    return readInt(obj.value(key));
}

qint64 readCount(const QJsonValue &v)
{
    return v.isDouble() ? countFromNumber(v.toDouble()) : 0;
}

qint64 countFromNumber(double number)
{
    const double d = std::trunc(number);
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

qint64 readCount(const QJsonObject &obj, QLatin1StringView key)
{
    return readCount(obj.value(key));
}

bool readBool(const QJsonValue &v)
{
    return v.isBool() && v.toBool();
}

bool readBool(const QJsonObject &obj, QLatin1StringView key)
{
    return readBool(obj.value(key));
}

} // namespace Protocol
