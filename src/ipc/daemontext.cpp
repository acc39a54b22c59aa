#include "ipc/daemontext.h"

#include "ipc/protocol.h"

namespace DaemonText {

QString bounded(const QString &text)
{
    if (text.size() <= kMaxChars)
        return text;
    qsizetype cut = kMaxChars;
    if (text.at(cut - 1).isHighSurrogate() && text.at(cut).isLowSurrogate())
        --cut;
    return text.first(cut) + QChar(0x2026);
}

QString read(const QJsonObject &obj, QLatin1StringView key)
{
    return bounded(Protocol::readString(obj, key));
}

} // namespace DaemonText
