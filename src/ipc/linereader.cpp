#include "ipc/linereader.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace {

std::optional<QJsonObject> parseObject(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

} // namespace

std::optional<QJsonObject> LineReader::parseLine(QByteArrayView line)
{
    // The usual line is valid UTF-8 with nothing around its braces but ASCII
    // spaces: decoding and trimming it as text would give back the same bytes,
    // so it is parsed where it lies. ASCII spaces are a subset of what the
    // text trimming removes, and after them a brace leaves nothing to trim.
    // A byte-order mark that a writer put before its text is no part of it.
    QByteArrayView json = line.trimmed();
    if (json.startsWith(kByteOrderMark))
        json = json.sliced(kByteOrderMark.size()).trimmed();
    if (json.startsWith('{') && json.endsWith('}') && json.isValidUtf8())
        return parseObject(QByteArray::fromRawData(json.data(), json.size()));

    // Otherwise decoded first, so that an invalid byte (a daemon's text in a
    // legacy code page) becomes U+FFFD instead of costing the whole message,
    // and trimmed as text, so Unicode spaces around the object do no harm.
    const QString text = decodedText(line);
    if (text.isEmpty())
        return std::nullopt;
    return parseObject(text.toUtf8());
}

QString LineReader::decodedText(QByteArrayView line)
{
    QString text = QString::fromUtf8(line).trimmed();
    if (text.startsWith(QChar::ByteOrderMark))
        text = text.sliced(1).trimmed();
    return text;
}

void LineReader::feedLines(const QByteArray &bytes, const LineHandler &onLine)
{
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const qsizetype newline = bytes.indexOf('\n', pos);
        const qsizetype end = newline < 0 ? bytes.size() : newline;
        if (m_discarding) {
            if (newline >= 0)
                m_discarding = false;
        } else if (m_buffer.size() + (end - pos) > kMaxLineBytes) {
            m_buffer.clear();
            m_discarding = newline < 0;
        } else if (newline < 0) {
            m_buffer.append(bytes.constData() + pos, end - pos);
        } else if (m_buffer.isEmpty()) {
            onLine(QByteArrayView(bytes).sliced(pos, end - pos));
        } else {
            m_buffer.append(bytes.constData() + pos, end - pos);
            onLine(m_buffer);
            m_buffer.clear();
        }
        pos = end + 1;
    }
}

QList<QJsonObject> LineReader::feed(const QByteArray &bytes)
{
    QList<QJsonObject> messages;
    feedLines(bytes, [&messages](QByteArrayView line) {
        if (std::optional<QJsonObject> message = parseLine(line))
            messages.append(std::move(*message));
    });
    return messages;
}

void LineReader::clear()
{
    m_buffer.clear();
    m_discarding = false;
}
