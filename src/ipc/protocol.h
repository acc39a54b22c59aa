#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QString>

// The pipe's message format: one compact JSON object per line, keys in
// ascending order (QJsonObject keeps them sorted), UTF-8, one line feed.
namespace Protocol {

inline constexpr char kMagic[] = "KESTRIX_IPC";
inline constexpr int kVersion = 1;

// One message as it goes on the wire, line feed included.
QByteArray encode(const QJsonObject &message);

QByteArray handshake(const QString &token);
QByteArray command(const QString &cmd);
QByteArray command(const QString &cmd, const QJsonObject &payload);

// Field readers with the protocol's defaults for missing or mistyped values.
// Keys are the wire's ASCII names. Each also reads a value already looked up,
// for a field whose presence matters too.
QString readString(const QJsonValue &value);
QString readString(const QJsonObject &obj, QLatin1StringView key);
// Whole numbers within the signed 32-bit range; 0 otherwise.
int readInt(const QJsonValue &value);
int readInt(const QJsonObject &obj, QLatin1StringView key);
// A byte count: fraction dropped, at most the signed 64-bit maximum; 0 when
// missing, not a number, NaN or below zero.
qint64 readCount(const QJsonValue &value);
qint64 readCount(const QJsonObject &obj, QLatin1StringView key);
bool readBool(const QJsonValue &value);
bool readBool(const QJsonObject &obj, QLatin1StringView key);
// What readInt() and readCount() make of a value that is a number.
int intFromNumber(double d);
qint64 countFromNumber(double number);

} // namespace Protocol
