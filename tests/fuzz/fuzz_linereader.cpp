#include "ipc/linereader.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The line reader on arbitrary bytes. Beyond not crashing: the messages must
// not depend on how the stream was cut into reads, and the partial line kept
// between reads must stay within the cap. Each line, however it is read, must
// read as the JSON of its decoded text does (trimmed, without a leading
// byte-order mark).

namespace {

void checkLine(QByteArrayView line)
{
    const std::optional<QJsonObject> object = LineReader::parseLine(line);
    const QJsonDocument asText = QJsonDocument::fromJson(LineReader::decodedText(line).toUtf8());
    if (object.has_value() != asText.isObject() || (object && *object != asText.object()))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte chooses where the stream is cut in two.
    const QByteArray stream(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = size == 0 ? 0 : data[0] % (stream.size() + 1);

    LineReader whole;
    const QList<QJsonObject> once = whole.feed(stream);

    LineReader pieces;
    QList<QJsonObject> twice = pieces.feed(stream.left(cut));
    twice += pieces.feed(stream.mid(cut));

    if (once != twice || whole.bufferedBytes() != pieces.bufferedBytes() ||
        pieces.bufferedBytes() > LineReader::kMaxLineBytes)
        std::abort();

    LineReader lines;
    lines.feedLines(stream, checkLine);
    return 0;
}
