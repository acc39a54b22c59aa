#include "ipc/statusreport.h"

#include "ipc/protocol.h"

#include <QJsonValue>

#include <array>
#include <tuple>

using namespace Qt::StringLiterals;

StatusReport StatusReport::fromObject(const QJsonObject &obj)
{
    using namespace Protocol;
    StatusReport report;
    if (const QJsonValue value = obj.value("authenticated"_L1); !value.isUndefined())
        report.authenticated = readBool(value);
    if (const QJsonValue value = obj.value("kill_switch_mode"_L1); !value.isUndefined())
        report.killSwitchMode = readString(value);
    report.status = readString(obj, "status"_L1);
    report.ip = readString(obj, "ip"_L1);
    report.transport = readString(obj, "transport"_L1);
    report.endpoint = readString(obj, "endpoint"_L1);
    report.attempt = readInt(obj, "attempt"_L1);
    report.error = readString(obj, "error"_L1);
    report.up = readCount(obj, "up"_L1);
    report.down = readCount(obj, "down"_L1);
    report.connectedSince = readString(obj, "connected_since"_L1);
    return report;
}

bool StatusReport::operator==(const StatusReport &o) const
{
    return std::tie(authenticated, killSwitchMode, status, ip, transport, endpoint, attempt, error,
                    up, down, connectedSince) ==
           std::tie(o.authenticated, o.killSwitchMode, o.status, o.ip, o.transport, o.endpoint,
                    o.attempt, o.error, o.up, o.down, o.connectedSince);
}

namespace {

// One value of the plain form.
struct PlainValue
{
    enum Kind
    {
        String,
        Number,
        True,
        False,
        Null
    } kind = Null;
    QByteArrayView text; // a string's bytes, quotes excluded
    double number = 0;   // as the JSON parser would hold it
};

// A strict reader of a subset of JSON: it refuses whatever it is not sure to
// read exactly as QJsonDocument does, and never reads past the line.
class PlainScanner
{
public:
    explicit PlainScanner(QByteArrayView text) : m_pos(text.data()), m_end(m_pos + text.size()) {}

    bool take(char c)
    {
        skipSpace();
        if (m_pos == m_end || *m_pos != c)
            return false;
        ++m_pos;
        return true;
    }

    bool atEnd()
    {
        skipSpace();
        return m_pos == m_end;
    }

    // Printable ASCII between quotes, no escapes.
    std::optional<QByteArrayView> string()
    {
        if (!take('"'))
            return std::nullopt;
        const char *start = m_pos;
        for (; m_pos != m_end; ++m_pos) {
            const uchar c = uchar(*m_pos);
            if (c == '"') {
                const QByteArrayView text(start, m_pos - start);
                ++m_pos;
                return text;
            }
            if (c < 0x20 || c > 0x7e || c == '\\')
                return std::nullopt;
        }
        return std::nullopt;
    }

    std::optional<PlainValue> value()
    {
        skipSpace();
        if (m_pos == m_end)
            return std::nullopt;
        switch (*m_pos) {
        case '"': {
            const std::optional<QByteArrayView> text = string();
            if (!text)
                return std::nullopt;
            return PlainValue{PlainValue::String, *text, 0};
        }
        case 't':
            return literal("true", PlainValue::True);
        case 'f':
            return literal("false", PlainValue::False);
        case 'n':
            return literal("null", PlainValue::Null);
        default:
            return wholeNumber();
        }
    }

private:
    void skipSpace()
    {
        while (m_pos != m_end &&
               (*m_pos == ' ' || *m_pos == '\t' || *m_pos == '\r' || *m_pos == '\n'))
            ++m_pos;
    }

    std::optional<PlainValue> literal(QByteArrayView word, PlainValue::Kind kind)
    {
        if (!QByteArrayView(m_pos, m_end - m_pos).startsWith(word))
            return std::nullopt;
        m_pos += word.size();
        return PlainValue{kind, {}, 0};
    }

    // "-"? and 1 to 18 digits without a leading zero: always exact in 64 bits.
    // A fraction or an exponent is left unread, so the object around it fails.
    std::optional<PlainValue> wholeNumber()
    {
        const bool negative = m_pos != m_end && *m_pos == '-';
        if (negative)
            ++m_pos;
        const char *digits = m_pos;
        qint64 n = 0;
        for (; m_pos != m_end && *m_pos >= '0' && *m_pos <= '9'; ++m_pos) {
            if (m_pos - digits == 18)
                return std::nullopt;
            n = n * 10 + (*m_pos - '0');
        }
        const qsizetype count = m_pos - digits;
        if (count == 0 || (count > 1 && *digits == '0'))
            return std::nullopt;
        return PlainValue{PlainValue::Number, {}, double(negative ? -n : n)};
    }

    const char *m_pos;
    const char *m_end;
};

enum Field
{
    Type,
    Authenticated,
    KillSwitchMode,
    Status,
    Ip,
    Transport,
    Endpoint,
    Attempt,
    Error,
    Up,
    Down,
    ConnectedSince,
    FieldCount
};

constexpr std::array<QLatin1StringView, FieldCount> kFieldNames = {
    "type"_L1,      "authenticated"_L1,  "kill_switch_mode"_L1, "status"_L1, "ip"_L1,
    "transport"_L1, "endpoint"_L1,       "attempt"_L1,          "error"_L1,  "up"_L1,
    "down"_L1,      "connected_since"_L1};

int fieldOf(QByteArrayView key)
{
    for (int field = 0; field < FieldCount; ++field) {
        if (QByteArrayView(kFieldNames[field]) == key)
            return field;
    }
    return FieldCount;
}

// The readings of Protocol::readString, readInt and readCount: a value of
// another kind reads as empty or 0.
QString stringOf(const std::optional<PlainValue> &v)
{
    return v && v->kind == PlainValue::String ? QString::fromLatin1(v->text) : QString();
}

double numberOf(const std::optional<PlainValue> &v)
{
    return v && v->kind == PlainValue::Number ? v->number : 0.0;
}

} // namespace

std::optional<StatusReport> StatusReport::scan(QByteArrayView line)
{
    PlainScanner in(line);
    std::array<std::optional<PlainValue>, FieldCount> fields;
    if (!in.take('{'))
        return std::nullopt;
    do {
        const std::optional<QByteArrayView> key = in.string();
        if (!key || !in.take(':'))
            return std::nullopt;
        const std::optional<PlainValue> value = in.value();
        if (!value)
            return std::nullopt;
        // The parser keeps the last of repeated keys: a repeated known key
        // is left to it. Unknown keys are ignored either way.
        const int field = fieldOf(*key);
        if (field < FieldCount) {
            if (fields[field])
                return std::nullopt;
            fields[field] = value;
        }
    } while (in.take(','));
    if (!in.take('}') || !in.atEnd())
        return std::nullopt;

    const std::optional<PlainValue> &type = fields[Type];
    if (!type || type->kind != PlainValue::String || type->text != "status")
        return std::nullopt;

    StatusReport report;
    if (fields[Authenticated])
        report.authenticated = fields[Authenticated]->kind == PlainValue::True;
    if (fields[KillSwitchMode])
        report.killSwitchMode = stringOf(fields[KillSwitchMode]);
    report.status = stringOf(fields[Status]);
    report.ip = stringOf(fields[Ip]);
    report.transport = stringOf(fields[Transport]);
    report.endpoint = stringOf(fields[Endpoint]);
    report.attempt = Protocol::intFromNumber(numberOf(fields[Attempt]));
    report.error = stringOf(fields[Error]);
    report.up = Protocol::countFromNumber(numberOf(fields[Up]));
    report.down = Protocol::countFromNumber(numberOf(fields[Down]));
    report.connectedSince = stringOf(fields[ConnectedSince]);
    return report;
}
