#include "ipc/linereader.h"

#include "mutatedlines.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QtTest>

// Cutting the byte stream into JSON objects.
class TestLineReader : public QObject
{
    Q_OBJECT

private slots:
    void feed_data();
    void feed();
    void overLongLineInOneRead();
    void clearForgetsPartialLine();
    void chunkingNeverChangesTheResult();
    void readAsDecodedText();
};

namespace {

QStringList compact(const QList<QJsonObject> &objects)
{
    QStringList out;
    for (const QJsonObject &o : objects)
        out << QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
    return out;
}

} // namespace

void TestLineReader::feed_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("expected");

    const QByteArray pong = R"({"type":"pong","version":"1"})";
    const QByteArray ready = R"({"type":"ready","version":"2"})";
    const QString pongText = QString::fromUtf8(pong);
    const QString readyText = QString::fromUtf8(ready);

    QTest::newRow("two messages in one read")
        << QList<QByteArray>{pong + '\n' + ready + '\n'} << QStringList{pongText, readyText};
    QTest::newRow("one message in two reads")
        << QList<QByteArray>{pong.left(10), pong.mid(10) + '\n'} << QStringList{pongText};
    QTest::newRow("partial line waits for its line feed")
        << QList<QByteArray>{pong} << QStringList{};
    QTest::newRow("CR LF") << QList<QByteArray>{pong + "\r\n"} << QStringList{pongText};
    QTest::newRow("blank lines and spaces skipped")
        << QList<QByteArray>{"\n   \n\t\n" + pong + "\n\n"} << QStringList{pongText};
    QTest::newRow("non-JSON then valid")
        << QList<QByteArray>{"hello world\n" + pong + '\n'} << QStringList{pongText};
    QTest::newRow("array and bare string dropped")
        << QList<QByteArray>{"[1,2]\n\"pong\"\n42\n" + pong + '\n'} << QStringList{pongText};
    QTest::newRow("line feed arrives alone")
        << QList<QByteArray>{pong, "\n"} << QStringList{pongText};

    // "é" is C3 A9 and "€" is E2 82 AC: split them across reads.
    const QByteArray utf8 =
        QByteArray(R"({"type":"error","error":"caf)") + "\xC3\xA9 \xE2\x82\xAC" + R"("})";
    const qsizetype mid = utf8.indexOf('\xC3') + 1;
    const qsizetype euro = utf8.indexOf('\xE2') + 2;
    QTest::newRow("multi-byte character split across reads")
        << QList<QByteArray>{utf8.left(mid), utf8.mid(mid, euro - mid), utf8.mid(euro) + '\n'}
        << QStringList{QString::fromUtf8(R"({"error":"café €","type":"error"})")};

    // Invalid UTF-8 (a daemon's text in a legacy code page) is replaced, not fatal.
    QTest::newRow("invalid UTF-8 replaced")
        << QList<QByteArray>{"{\"type\":\"error\",\"error\":\"\xCE\xE1\xF0\xFB\xE2 x\xC3\"}\n"}
        << QStringList{QString::fromUtf8(R"({"error":")") + QString(5, QChar(0xFFFD)) + " x" +
                       QChar(0xFFFD) + R"(","type":"error"})"};
    QTest::newRow("Unicode spaces around the object")
        << QList<QByteArray>{"\xC2\xA0" + pong + "\xE2\x80\x83\xC2\xA0\r\n"}
        << QStringList{pongText};
    QTest::newRow("ASCII control spaces around the object")
        << QList<QByteArray>{"\v\f " + pong + "\t\v\r\n"} << QStringList{pongText};
    QTest::newRow("ASCII space before, Unicode space after")
        << QList<QByteArray>{" " + pong + "\xC2\xA0\n"} << QStringList{pongText};
    QTest::newRow("byte order mark at the start dropped")
        << QList<QByteArray>{"\xEF\xBB\xBF" + pong + '\n'} << QStringList{pongText};
    QTest::newRow("byte order mark after spaces, spaces after it")
        << QList<QByteArray>{" \t\xEF\xBB\xBF \xC2\xA0" + pong + "\r\n"} << QStringList{pongText};
    QTest::newRow("byte order mark, invalid UTF-8 inside")
        << QList<QByteArray>{"\xEF\xBB\xBF{\"type\":\"error\",\"error\":\"x\xFF\"}\n"}
        << QStringList{R"({"error":"x)" + QString(QChar(0xFFFD)) + R"(","type":"error"})"};
    QTest::newRow("byte order mark split across reads")
        << QList<QByteArray>{"\xEF", "\xBB\xBF" + pong + '\n'} << QStringList{pongText};
    QTest::newRow("byte order mark alone is a blank line")
        << QList<QByteArray>{"\xEF\xBB\xBF\n" + pong + '\n'} << QStringList{pongText};
    QTest::newRow("line of Unicode spaces skipped")
        << QList<QByteArray>{"\xC2\xA0\xE3\x80\x80\n" + pong + '\n'} << QStringList{pongText};

    const QByteArray huge(LineReader::kMaxLineBytes + 10, 'x');
    QTest::newRow("over-long line then a valid one")
        << QList<QByteArray>{pong + '\n', huge.left(700000), huge.mid(700000), "\n" + ready + '\n'}
        << QStringList{pongText, readyText};
    const QByteArray hugeJson =
        "{\"type\":\"pong\",\"pad\":\"" + QByteArray(LineReader::kMaxLineBytes, 'p') + "\"}";
    QTest::newRow("over-long valid JSON is still dropped")
        << QList<QByteArray>{hugeJson + '\n' + ready + '\n'} << QStringList{readyText};
    const QByteArray exact =
        "{\"type\":\"pong\",\"pad\":\"" + QByteArray(LineReader::kMaxLineBytes - 24, 'p') + "\"}";
    QTest::newRow("line of exactly the cap is kept")
        << QList<QByteArray>{exact.left(1000), exact.mid(1000) + '\n'}
        << QStringList{
               QString::fromUtf8(QJsonDocument::fromJson(exact).toJson(QJsonDocument::Compact))};
}

void TestLineReader::feed()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, expected);

    LineReader reader;
    QList<QJsonObject> got;
    for (const QByteArray &chunk : chunks)
        got += reader.feed(chunk);
    QCOMPARE(compact(got), expected);
    QVERIFY(reader.bufferedBytes() <= LineReader::kMaxLineBytes);
}

void TestLineReader::overLongLineInOneRead()
{
    // Memory stays bounded while a peer streams a line that never ends.
    LineReader reader;
    const QByteArray block(256 * 1024, 'z');
    for (int i = 0; i < 40; ++i) {
        QVERIFY(reader.feed(block).isEmpty());
        QVERIFY(reader.bufferedBytes() <= LineReader::kMaxLineBytes);
    }
    const QList<QJsonObject> after = reader.feed("\n{\"type\":\"pong\"}\n");
    QCOMPARE(after.size(), 1);
    QCOMPARE(after.first().value("type").toString(), QStringLiteral("pong"));
}

void TestLineReader::clearForgetsPartialLine()
{
    LineReader reader;
    QVERIFY(reader.feed(R"({"type":"po)").isEmpty());
    reader.clear();
    const QList<QJsonObject> got = reader.feed("{\"type\":\"ready\"}\n");
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.first().value("type").toString(), QStringLiteral("ready"));
}

void TestLineReader::chunkingNeverChangesTheResult()
{
    // However the stream is cut into reads, the same objects come out.
    QByteArray stream;
    stream += R"({"type":"pong","version":"1"})"
              "\n";
    stream += "garbage \xFF\xFE\n";
    stream += R"({"type":"error","error":"\u0000 caf\u00e9"})"
              "\r\n";
    stream += "{\"type\":\"error\",\"error\":\"\xE2\x82\xAC\xF0\x9F\x94\x92\"}\n";
    stream += "\n\n  \t\n[1]\n";
    stream += QByteArray(LineReader::kMaxLineBytes + 1, '{') + "\n";
    stream += R"({"type":"ready","version":"2"})"
              "\n";
    stream += R"({"type":"status","status":"connected"})"; // unterminated tail

    LineReader whole;
    const QList<QJsonObject> expected = whole.feed(stream);
    QCOMPARE(expected.size(), 4);

    QRandomGenerator random(20261210);
    for (int round = 0; round < 40; ++round) {
        LineReader reader;
        QList<QJsonObject> got;
        qsizetype pos = 0;
        while (pos < stream.size()) {
            const qsizetype len = round % 2 ? random.bounded(1, 9) : random.bounded(1, 300000);
            got += reader.feed(stream.mid(pos, len));
            pos += len;
        }
        QCOMPARE(got, expected);
        QCOMPARE(reader.bufferedBytes(), whole.bufferedBytes());
    }
}

void TestLineReader::readAsDecodedText()
{
    // A line that skips the decoding gives what decoding it with replacement,
    // trimming the text (and a byte-order mark) and parsing its UTF-8 would give.
    const QList<QByteArray> seeds = {R"({"type":"pong","version":"1"})",
                                     " {\"type\":\"error\",\"error\":\"caf\xC3\xA9\"}\r",
                                     R"({"type":"status","up":1,"extra":[1,{"a":null}]})"};
    for (const QByteArray &line : mutatedLines(seeds, 5000, 20261211)) {
        LineReader reader;
        const QList<QJsonObject> got = reader.feed(line + '\n');
        const QJsonDocument doc = QJsonDocument::fromJson(LineReader::decodedText(line).toUtf8());
        const QList<QJsonObject> expected =
            doc.isObject() ? QList<QJsonObject>{doc.object()} : QList<QJsonObject>{};
        if (got != expected)
            QFAIL(qPrintable(QStringLiteral("read differently: ") + QString::fromUtf8(line)));
    }
}

QTEST_APPLESS_MAIN(TestLineReader)
#include "tst_linereader.moc"
