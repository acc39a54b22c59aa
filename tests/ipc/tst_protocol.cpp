#include "ipc/pipeclient.h"
#include "ipc/protocol.h"

#include "fakedaemon.h"

#include <QFile>
#include <QJsonObject>
#include <QtTest>

#include <limits>

using namespace Qt::StringLiterals;

// What the client puts on the wire: exact bytes, key order, one write each.
class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void handshake_data();
    void handshake();
    void commands_data();
    void commands();
    void commandWhileDisconnected_data();
    void commandWhileDisconnected();
    void integerField_data();
    void integerField();
    void countField_data();
    void countField();
};

void TestProtocol::handshake_data()
{
    QTest::addColumn<bool>("setProgramData");
    QTest::addColumn<QByteArray>("tokenFile"); // null: no file
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("no PROGRAMDATA")
        << false << QByteArray()
        << QByteArray(R"({"magic":"KESTRIX_IPC","token":"","version":1})"
                      "\n");
    QTest::newRow("no token file") << true << QByteArray()
                                   << QByteArray(R"({"magic":"KESTRIX_IPC","token":"","version":1})"
                                                 "\n");
    QTest::newRow("token") << true << QByteArray("s3cr3t")
                           << QByteArray(R"({"magic":"KESTRIX_IPC","token":"s3cr3t","version":1})"
                                         "\n");
    QTest::newRow("token ending in CR LF")
        << true << QByteArray("  s3cr3t\r\n")
        << QByteArray(R"({"magic":"KESTRIX_IPC","token":"s3cr3t","version":1})"
                      "\n");
    QTest::newRow("token needing escapes")
        << true << QByteArray("a\"b\\c")
        << QByteArray(R"({"magic":"KESTRIX_IPC","token":"a\"b\\c","version":1})"
                      "\n");
}

void TestProtocol::handshake()
{
    QFETCH(bool, setProgramData);
    QFETCH(QByteArray, tokenFile);
    QFETCH(QByteArray, expected);

    QTemporaryDir programData;
    if (setProgramData) {
        qputenv("PROGRAMDATA", programData.path().toUtf8());
        if (!tokenFile.isNull()) {
            QVERIFY(QDir(programData.path()).mkpath("Kestrix"));
            QFile f(programData.path() + "/Kestrix/pipe.token");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(tokenFile);
        }
    } else {
        qunsetenv("PROGRAMDATA");
    }

    FakeDaemon daemon;
    QVERIFY(daemon.listen());
    PipeClient client;
    client.connectToPipe();
    QVERIFY(daemon.waitForLines(1));
    QTRY_COMPARE(daemon.rawBytes(), expected);
    QCOMPARE(client.status(), QStringLiteral("connected — sending handshake"));
    qunsetenv("PROGRAMDATA");
}

using Send = std::function<void(PipeClient &)>;
Q_DECLARE_METATYPE(Send)

void TestProtocol::commands_data()
{
    QTest::addColumn<Send>("send");
    QTest::addColumn<QList<QByteArray>>("expected");

    auto row = [](const char *name, Send send, QList<QByteArray> lines) {
        QTest::newRow(name) << send << lines;
    };
    row("ping", [](PipeClient &c) { c.sendPing(); }, {R"({"cmd":"ping"})"});
    row("status", [](PipeClient &c) { c.sendStatusQuery(); }, {R"({"cmd":"status"})"});
    row("login_start", [](PipeClient &c) { c.sendLoginStart(); }, {R"({"cmd":"login_start"})"});
    row("login_cancel", [](PipeClient &c) { c.sendLoginCancel(); }, {R"({"cmd":"login_cancel"})"});
    row("logout", [](PipeClient &c) { c.sendLogout(); }, {R"({"cmd":"logout"})"});
    row("connect, no arguments", [](PipeClient &c) { c.sendConnect(); },
        {R"({"cmd":"connect","payload":{"games":false,"whitelist":false}})"});
    row("connect, whitelist only", [](PipeClient &c) { c.sendConnect(true); },
        {R"({"cmd":"connect","payload":{"games":false,"whitelist":true}})"});
    row("connect, both", [](PipeClient &c) { c.sendConnect(true, true); },
        {R"({"cmd":"connect","payload":{"games":true,"whitelist":true}})"});
    row("connect, games only", [](PipeClient &c) { c.sendConnect(false, true); },
        {R"({"cmd":"connect","payload":{"games":true,"whitelist":false}})"});
    row("disconnect", [](PipeClient &c) { c.sendDisconnect(); }, {R"({"cmd":"disconnect"})"});
    row("set_kill_switch then status", [](PipeClient &c) { c.sendSetKillSwitchMode("always"); },
        {R"({"cmd":"set_kill_switch","payload":{"mode":"always"}})", R"({"cmd":"status"})"});
    row("set_kill_switch passes the mode through",
        [](PipeClient &c) { c.sendSetKillSwitchMode("On_Connect \"x\""); },
        {R"({"cmd":"set_kill_switch","payload":{"mode":"On_Connect \"x\""}})",
         R"({"cmd":"status"})"});
    row("get_diag", [](PipeClient &c) { c.sendGetDiag(); }, {R"({"cmd":"get_diag"})"});
    row("install_update", [](PipeClient &c) { c.sendInstallUpdate(); },
        {R"({"cmd":"install_update"})"});
    row("apply_update", [](PipeClient &c) { c.sendApplyUpdate(); }, {R"({"cmd":"apply_update"})"});
    row("shutdown", [](PipeClient &c) { c.sendShutdown(); }, {R"({"cmd":"shutdown"})"});
}

void TestProtocol::commands()
{
    QFETCH(Send, send);
    QFETCH(QList<QByteArray>, expected);

    qunsetenv("PROGRAMDATA");
    FakeDaemon daemon;
    QVERIFY(daemon.listen());
    PipeClient client;
    QVERIFY(daemon.connectClient(client));
    const int readsBefore = daemon.readCalls();

    send(client);
    QVERIFY(daemon.waitForLines(int(expected.size())));
    QTest::qWait(50); // let anything extra arrive
    QCOMPARE(daemon.lines(), expected);

    QByteArray joined;
    for (const QByteArray &line : expected)
        joined += line + '\n';
    QCOMPARE(daemon.rawBytes(), joined); // no CR, no BOM, one LF each
    if (expected.size() == 1)
        QCOMPARE(daemon.readCalls() - readsBefore, 1); // one write, flushed at once
}

void TestProtocol::commandWhileDisconnected_data()
{
    QTest::addColumn<Send>("send");
    QTest::addColumn<bool>("reportsNotConnected");

    QTest::newRow("ping") << Send([](PipeClient &c) { c.sendPing(); }) << true;
    QTest::newRow("connect") << Send([](PipeClient &c) { c.sendConnect(true, false); }) << true;
    QTest::newRow("disconnect") << Send([](PipeClient &c) { c.sendDisconnect(); }) << true;
    QTest::newRow("set_kill_switch")
        << Send([](PipeClient &c) { c.sendSetKillSwitchMode("always"); }) << true;
    QTest::newRow("get_diag") << Send([](PipeClient &c) { c.sendGetDiag(); }) << true;
    QTest::newRow("shutdown is silent") << Send([](PipeClient &c) { c.sendShutdown(); }) << false;
    QTest::newRow("apply_update is silent")
        << Send([](PipeClient &c) { c.sendApplyUpdate(); }) << false;
}

void TestProtocol::commandWhileDisconnected()
{
    QFETCH(Send, send);
    QFETCH(bool, reportsNotConnected);

    PipeClient client;
    QSignalSpy statusSpy(&client, &PipeClient::statusChanged);
    send(client);
    QCOMPARE(client.status(), reportsNotConnected ? QStringLiteral("not connected")
                                                  : QStringLiteral("disconnected"));
    QCOMPARE(statusSpy.count(), reportsNotConnected ? 1 : 0);
    QVERIFY(!client.applyingUpdate()); // nothing was sent, so no update is being applied
}

void TestProtocol::integerField_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("expected");

    QTest::newRow("whole") << QByteArray(R"({"v":42})") << 42;
    QTest::newRow("negative") << QByteArray(R"({"v":-7})") << -7;
    QTest::newRow("int max") << QByteArray(R"({"v":2147483647})") << 2147483647;
    QTest::newRow("int min") << QByteArray(R"({"v":-2147483648})") << int(-2147483648LL);
    QTest::newRow("beyond 32 bits") << QByteArray(R"({"v":2147483648})") << 0;
    QTest::newRow("far beyond") << QByteArray(R"({"v":1e300})") << 0;
    QTest::newRow("fraction") << QByteArray(R"({"v":3.5})") << 0;
    QTest::newRow("string") << QByteArray(R"({"v":"3"})") << 0;
    QTest::newRow("bool") << QByteArray(R"({"v":true})") << 0;
    QTest::newRow("null") << QByteArray(R"({"v":null})") << 0;
    QTest::newRow("missing") << QByteArray(R"({})") << 0;
}

void TestProtocol::integerField()
{
    QFETCH(QByteArray, json);
    QFETCH(int, expected);
    QCOMPARE(Protocol::readInt(QJsonDocument::fromJson(json).object(), "v"_L1), expected);
}

void TestProtocol::countField_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<qint64>("expected");

    const qint64 max = std::numeric_limits<qint64>::max();
    QTest::newRow("whole") << QByteArray(R"({"v":1536})") << qint64(1536);
    QTest::newRow("fraction dropped") << QByteArray(R"({"v":1536.9})") << qint64(1536);
    QTest::newRow("large") << QByteArray(R"({"v":5000000000000})") << qint64(5000000000000);
    QTest::newRow("beyond 64 bits") << QByteArray(R"({"v":1e30})") << max;
    QTest::newRow("below zero") << QByteArray(R"({"v":-1})") << qint64(0);
    QTest::newRow("below 64 bits") << QByteArray(R"({"v":-1e30})") << qint64(0);
    QTest::newRow("string") << QByteArray(R"({"v":"12"})") << qint64(0);
    QTest::newRow("missing") << QByteArray(R"({})") << qint64(0);
}

void TestProtocol::countField()
{
    QFETCH(QByteArray, json);
    QFETCH(qint64, expected);
    QCOMPARE(Protocol::readCount(QJsonDocument::fromJson(json).object(), "v"_L1), expected);
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
