#include "clientfixture.h"

#include <QMetaProperty>
#include <QtTest>

// Every text of the daemon that the interface shows arrives bounded: a long
// one is cut to 1,000 characters and "…" before any binding or receiver
// sees it.
class TestDaemonTexts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("PROGRAMDATA"); }
    void cutBeforeAnyoneSees_data();
    void cutBeforeAnyoneSees();
    void cutKeepsSurrogatePairsWhole_data();
    void cutKeepsSurrogatePairsWhole();

public slots:
    // Reads the watched property at the moment its notify signal fires.
    void recordProperty() { m_seen << m_client->property(m_property).toString(); }

private:
    PipeClient *m_client = nullptr;
    QByteArray m_property;
    QStringList m_seen;
};

namespace {

const QString kLong = QString(4000, QLatin1Char('w'));
const QString kCut = QString(1000, QLatin1Char('w')) + QChar(0x2026);

} // namespace

void TestDaemonTexts::cutBeforeAnyoneSees_data()
{
    // "@" in the line is the long text; in the expectation, the cut text.
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("property"); // read at its notify signal; or empty
    QTest::addColumn<QByteArray>("signal");   // whose argument carries the text; or empty
    QTest::addColumn<int>("argument");
    QTest::addColumn<QString>("expected");

    QTest::newRow("status: error")
        << QByteArray(R"({"type":"status","status":"failed","error":"@"})")
        << QByteArray("errorText") << QByteArray() << 0 << "@";
    QTest::newRow("status: status") << QByteArray(R"({"type":"status","status":"@"})")
                                    << QByteArray("vpnState") << QByteArray() << 0 << "@";
    QTest::newRow("status: ip") << QByteArray(R"({"type":"status","status":"connected","ip":"@"})")
                                << QByteArray("vpnIp") << QByteArray() << 0 << "@";
    QTest::newRow("status: transport")
        << QByteArray(R"({"type":"status","status":"connected","transport":"@"})")
        << QByteArray("transport") << QByteArray() << 0 << "@";
    QTest::newRow("status: endpoint")
        << QByteArray(R"({"type":"status","status":"connected","endpoint":"@"})")
        << QByteArray("endpoint") << QByteArray() << 0 << "@";
    QTest::newRow("status: kill_switch_mode")
        << QByteArray(R"({"type":"status","kill_switch_mode":"@"})") << QByteArray("killSwitchMode")
        << QByteArray() << 0 << "@";
    QTest::newRow("status: connected_since")
        << QByteArray(R"({"type":"status","status":"connected","connected_since":"@"})")
        << QByteArray("connectedSince") << QByteArray() << 0 << "@";
    QTest::newRow("error: error text") << QByteArray(R"({"type":"error","error":"@"})")
                                       << QByteArray("errorText") << QByteArray() << 0 << "@";
    QTest::newRow("error: status line") << QByteArray(R"({"type":"error","error":"@"})")
                                        << QByteArray("status") << QByteArray() << 0 << "error: @";
    QTest::newRow("ready: status line")
        << QByteArray(R"({"type":"ready","version":"@"})") << QByteArray("status") << QByteArray()
        << 0 << "ready — daemon v@";
    QTest::newRow("ready: version") << QByteArray(R"({"type":"ready","version":"@"})")
                                    << QByteArray() << QByteArray("versionReceived") << 0 << "@";
    QTest::newRow("pong: status line") << QByteArray(R"({"type":"pong","version":"@"})")
                                       << QByteArray("status") << QByteArray() << 0 << "pong v@";
    QTest::newRow("pong: version") << QByteArray(R"({"type":"pong","version":"@"})") << QByteArray()
                                   << QByteArray("versionReceived") << 0 << "@";
    QTest::newRow("update_available: version")
        << QByteArray(R"({"type":"update_available","update_version":"@"})")
        << QByteArray("updateVersion") << QByteArray() << 0 << "@";
    QTest::newRow("login_failed: error") << QByteArray(R"({"type":"login_failed","error":"@"})")
                                         << QByteArray() << QByteArray("loginFailed") << 0 << "@";
    QTest::newRow("browser_opened: expires_at")
        << QByteArray(R"({"type":"browser_opened","login_url":"https://x/","expires_at":"@"})")
        << QByteArray() << QByteArray("browserOpened") << 1 << "@";
}

void TestDaemonTexts::cutBeforeAnyoneSees()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, property);
    QFETCH(QByteArray, signal);
    QFETCH(int, argument);
    QFETCH(QString, expected);

    ConnectedClient c;
    QVERIFY(c.start());
    m_client = c.client.get();
    m_property = property;
    m_seen.clear();

    const QMetaObject *meta = m_client->metaObject();
    std::unique_ptr<QSignalSpy> spy;
    if (!property.isEmpty()) {
        const QMetaProperty p = meta->property(meta->indexOfProperty(property));
        QVERIFY(p.hasNotifySignal());
        QVERIFY(connect(m_client, p.notifySignal(), this,
                        metaObject()->method(metaObject()->indexOfSlot("recordProperty()")),
                        Qt::DirectConnection));
    } else {
        QMetaMethod method;
        for (int i = 0; i < meta->methodCount(); ++i)
            if (meta->method(i).name() == signal)
                method = meta->method(i);
        QVERIFY(method.isValid());
        spy = std::make_unique<QSignalSpy>(m_client, method);
    }

    QVERIFY(c.deliver(line.replace('@', kLong.toUtf8())));
    expected.replace(QLatin1Char('@'), kCut);

    if (spy) {
        // The marker pong of deliver() is a versionReceived too: the first is ours.
        QVERIFY(!spy->isEmpty());
        QCOMPARE(spy->first().at(argument).toString(), expected);
        return;
    }
    // The marker pong rewrites the status line: ours is the one before it.
    QVERIFY(!m_seen.isEmpty());
    if (property == "status")
        m_seen.removeLast();
    for (const QString &seen : std::as_const(m_seen))
        QVERIFY2(seen.size() <= expected.size(), "a binding saw the long text");
    QCOMPARE(m_seen.last(), expected);
}

void TestDaemonTexts::cutKeepsSurrogatePairsWhole_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    const QString pair = QStringLiteral("\U0001F512"); // two UTF-16 units
    const QString a999 = QString(999, QLatin1Char('a'));
    const QString ellipsis = QString(QChar(0x2026));
    QTest::newRow("exactly the cap stays") << QString(1000, 'a') << QString(1000, 'a');
    QTest::newRow("one over is cut") << QString(1001, 'a') << QString(1000, 'a') + ellipsis;
    QTest::newRow("pair across the cut moves before it") << a999 + pair + "tail" << a999 + ellipsis;
    QTest::newRow("pair ending at the cut stays")
        << QString(998, 'a') + pair + "tail" << QString(998, 'a') + pair + ellipsis;
    QTest::newRow("pair whole within the cap") << a999.left(998) + pair << a999.left(998) + pair;
}

void TestDaemonTexts::cutKeepsSurrogatePairsWhole()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    ConnectedClient c;
    QVERIFY(c.start());
    QJsonObject error{{"type", "error"}, {"error", text}};
    QVERIFY(c.deliver(QJsonDocument(error).toJson(QJsonDocument::Compact)));
    QCOMPARE(c.client->errorText(), expected);
}

QTEST_GUILESS_MAIN(TestDaemonTexts)
#include "tst_daemontexts.moc"
