#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QList>

#include <functional>
#include <optional>

// Cuts a byte stream into lines and parses each as a JSON object.
//
// The buffer holds bytes, not text: a UTF-8 character split across two reads
// is decoded only once its line is whole. Each line is decoded with invalid
// sequences replaced by U+FFFD and trimmed of Unicode whitespace and a leading
// byte-order mark. A line longer than the cap is
// dropped up to its line feed so a peer that never ends a line cannot grow
// memory without bound; the lines around it are still handled.
class LineReader
{
public:
    static constexpr qsizetype kMaxLineBytes = qsizetype{1024} * 1024;

    // Appends the bytes and hands every whole line they finish (within the
    // cap, line feed excluded) to the handler, in order. The view lasts until
    // the handler returns.
    using LineHandler = std::function<void(QByteArrayView line)>;
    void feedLines(const QByteArray &bytes, const LineHandler &onLine);

    // Appends the bytes and returns every complete JSON object they finish,
    // in order. Blank lines, non-JSON and non-object lines are skipped.
    QList<QJsonObject> feed(const QByteArray &bytes);

    // One whole line as feed() reads it; nothing when it holds no JSON object.
    // It reads as the JSON of its decodedText() does.
    static std::optional<QJsonObject> parseLine(QByteArrayView line);

    // A line's bytes as text: decoded, trimmed, and without a byte-order mark
    // at its start.
    static QString decodedText(QByteArrayView line);

    static constexpr QByteArrayView kByteOrderMark{"\xEF\xBB\xBF"};

    // Forgets any partial line (a new connection starts clean).
    void clear();

    qsizetype bufferedBytes() const { return m_buffer.size(); }

private:
    QByteArray m_buffer;
    bool m_discarding = false; // inside an over-long line, waiting for its end
};
