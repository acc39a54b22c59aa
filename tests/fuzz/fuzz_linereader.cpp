#include "ipc/linereader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The line reader on arbitrary bytes. Beyond not crashing: the messages must
// not depend on how the stream was cut into reads, and the partial line kept
// between reads must stay within the cap.
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
    return 0;
}
