#include "ipc/linereader.h"
#include "ipc/statusreport.h"

#include "mutatedlines.h"

#include <QtTest>

#include <limits>

// A status line read straight from its bytes reads exactly as the parsed
// line does, and every line it is not sure of is left to the parser.
class TestStatusReport : public QObject
{
    Q_OBJECT

private slots:
    void plainLine();
    void scanMatchesParser_data();
    void scanMatchesParser();
    void scanMatchesParserOnMutatedLines();
};

namespace {

const QByteArray kStatus =
    R"({"type":"status","authenticated":true,"kill_switch_mode":"never","status":"connected",)"
    R"("ip":"10.8.0.2","transport":"udp","endpoint":"de1.example.net:443","attempt":0,"error":"",)"
    R"("up":123456789,"down":987654321,"connected_since":"2026-12-10T01:00:00Z"})";

// The full path's reading: nothing unless the line is a "status" object.
std::optional<StatusReport> parsed(const QByteArray &line)
{
    const std::optional<QJsonObject> object = LineReader::parseLine(line);
    if (!object || object->value(QLatin1StringView("type")) != QJsonValue(QStringLiteral("status")))
        return std::nullopt;
    return StatusReport::fromObject(*object);
}

QByteArray withField(const QByteArray &field)
{
    return R"({"type":"status",)" + field + "}";
}

} // namespace

void TestStatusReport::plainLine()
{
    const std::optional<StatusReport> report = StatusReport::scan(kStatus);
    QVERIFY(report);
    QCOMPARE(report->authenticated, std::optional<bool>(true));
    QCOMPARE(report->killSwitchMode, std::optional<QString>(QStringLiteral("never")));
    QCOMPARE(report->status, QStringLiteral("connected"));
    QCOMPARE(report->ip, QStringLiteral("10.8.0.2"));
    QCOMPARE(report->transport, QStringLiteral("udp"));
    QCOMPARE(report->endpoint, QStringLiteral("de1.example.net:443"));
    QCOMPARE(report->attempt, 0);
    QCOMPARE(report->error, QString());
    QCOMPARE(report->up, qint64(123456789));
    QCOMPARE(report->down, qint64(987654321));
    QCOMPARE(report->connectedSince, QStringLiteral("2026-12-10T01:00:00Z"));
}

void TestStatusReport::scanMatchesParser_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("scanned"); // false: left to the full path

    QTest::newRow("daemon's line") << kStatus << true;
    QTest::newRow("spaces, CR and key order")
        << QByteArray(" { \"up\" : 5 ,\t\"type\":\"status\" , \"ip\":\"a\" }\r") << true;
    QTest::newRow("type only") << QByteArray(R"({"type":"status"})") << true;
    QTest::newRow("absent keys leave nothing set") << withField(R"("status":"connecting")") << true;
    QTest::newRow("null and mistyped values")
        << withField(R"("authenticated":null,"kill_switch_mode":null,"status":5,"ip":true,)"
                     R"("attempt":"3","up":"7","down":false,"connected_since":1)")
        << true;
    QTest::newRow("counter below zero") << withField(R"("up":-5,"down":-0)") << true;
    QTest::newRow("18 digits, beyond double precision")
        << withField(R"("up":999999999999999999,"down":9007199254740993)") << true;
    QTest::newRow("attempt beyond 32 bits") << withField(R"("attempt":4294967296)") << true;
    QTest::newRow("negative attempt") << withField(R"("attempt":-2147483648)") << true;
    QTest::newRow("unknown flat fields ignored, even repeated")
        << withField(R"("x":1,"x":"y","up":3,"zz":null)") << true;

    QTest::newRow("19 digits") << withField(R"("up":1234567890123456789)") << false;
    QTest::newRow("fraction") << withField(R"("up":1536.9)") << false;
    QTest::newRow("exponent") << withField(R"("up":1e3)") << false;
    QTest::newRow("leading zero") << withField(R"("up":01)") << false;
    QTest::newRow("escape") << withField(R"("ip":"10.8.0.\u0032")") << false;
    QTest::newRow("non-ASCII") << withField("\"error\":\"caf\xC3\xA9\"") << false;
    QTest::newRow("invalid UTF-8") << withField("\"error\":\"\xCE\xE1\"") << false;
    QTest::newRow("control character") << withField("\"error\":\"a\x01\"") << false;
    QTest::newRow("nested value") << withField(R"("extra":{"a":[1]})") << false;
    QTest::newRow("repeated known key") << withField(R"("up":1,"up":2)") << false;
    QTest::newRow("another type") << QByteArray(R"({"type":"pong","up":1})") << false;
    QTest::newRow("no type") << QByteArray(R"({"up":1})") << false;
    QTest::newRow("type not a string") << QByteArray(R"({"type":1})") << false;
    QTest::newRow("Unicode space before") << "\xC2\xA0" + withField(R"("up":1)") << false;
    QTest::newRow("trailing comma") << withField(R"("up":1,)") << false;
    QTest::newRow("trailing bytes") << withField(R"("up":1)") + "x" << false;
    QTest::newRow("unclosed") << QByteArray(R"({"type":"status")") << false;
    QTest::newRow("unclosed string") << QByteArray(R"({"type":"status)") << false;
    QTest::newRow("truncated literal") << withField(R"("authenticated":tru)") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestStatusReport::scanMatchesParser()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, scanned);

    const std::optional<StatusReport> report = StatusReport::scan(line);
    QCOMPARE(report.has_value(), scanned);
    if (scanned) {
        const std::optional<StatusReport> expected = parsed(line);
        QVERIFY(expected);
        QVERIFY(*report == *expected);
    }
}

void TestStatusReport::scanMatchesParserOnMutatedLines()
{
    // Every line the scan reads, the parser reads the same; whatever the
    // parser refuses, the scan refuses too.
    const QList<QByteArray> seeds = {kStatus, withField(R"("up":1,"down":2)"),
                                     QByteArray(R"({"type":"status"})")};
    int scannedLines = 0;
    for (const QByteArray &line : mutatedLines(seeds, 20000, 20261210)) {
        const std::optional<StatusReport> report = StatusReport::scan(line);
        if (!report)
            continue;
        ++scannedLines;
        const std::optional<StatusReport> expected = parsed(line);
        if (!expected || *report != *expected)
            QFAIL(qPrintable(QStringLiteral("read differently: ") + QString::fromLatin1(line)));
    }
    // The mutations keep enough lines readable for the comparison to mean something.
    QVERIFY(scannedLines > 1000);
}

QTEST_APPLESS_MAIN(TestStatusReport)
#include "tst_statusreport.moc"
