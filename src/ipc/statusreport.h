#pragma once

#include <QByteArrayView>
#include <QJsonObject>
#include <QString>

#include <optional>

// What one "status" event tells the pipe client, read with the protocol's
// defaults for missing or mistyped values.
struct StatusReport
{
    std::optional<bool> authenticated;     // only when the key is there
    std::optional<QString> killSwitchMode; // only when the key is there
    QString status;
    QString ip;
    QString transport;
    QString endpoint;
    int attempt = 0;
    QString error;
    qint64 up = 0;
    qint64 down = 0;
    QString connectedSince;

    // From a parsed "status" object.
    static StatusReport fromObject(const QJsonObject &obj);

    // Straight from one line's bytes, without building a JSON document, for
    // the plain form a daemon sends every 1.5 s: one flat object whose values
    // are ASCII strings without escapes, whole numbers of up to 18 digits,
    // true, false or null, each known key at most once, and "type" "status".
    // Nothing for any other line, which then takes the full JSON path; for a
    // line it reads, the result is what fromObject() gives for the parsed line.
    static std::optional<StatusReport> scan(QByteArrayView line);

    bool operator==(const StatusReport &other) const;
    bool operator!=(const StatusReport &other) const { return !(*this == other); }
};
