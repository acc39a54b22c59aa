#include "ipc/linereader.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace {

void parseLine(const QByteArray &raw, QList<QJsonObject> &out)
{
    // Decoded first, so that an invalid byte (a daemon's text in a legacy code
    // page) becomes U+FFFD instead of costing the whole message, and trimmed
    // as text, so Unicode spaces around the object do no harm either.
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty())
        return;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return;
    out.append(doc.object());
}

} // namespace

QList<QJsonObject> LineReader::feed(const QByteArray &bytes)
{
    QList<QJsonObject> messages;
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
            parseLine(bytes.mid(pos, end - pos), messages);
        } else {
            m_buffer.append(bytes.constData() + pos, end - pos);
            parseLine(m_buffer, messages);
            m_buffer.clear();
        }
        pos = end + 1;
    }
    return messages;
}

void LineReader::clear()
{
    m_buffer.clear();
    m_discarding = false;
}
