#pragma once

#include <QByteArray>
#include <QJsonObject>
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
QString readString(const QJsonObject &obj, const QString &key);
// Whole numbers within the signed 32-bit range; 0 otherwise.
int readInt(const QJsonObject &obj, const QString &key);
// A byte count: fraction dropped, at most the signed 64-bit maximum; 0 when
// missing, not a number, NaN or below zero.
qint64 readCount(const QJsonObject &obj, const QString &key);
bool readBool(const QJsonObject &obj, const QString &key);

} // namespace Protocol
