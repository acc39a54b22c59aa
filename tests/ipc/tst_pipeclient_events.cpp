#include "clientfixture.h"

#include <QtTest>

// What each event does to the client's observable state and signals.
class TestPipeClientEvents : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("PROGRAMDATA"); }
    void events_data();
    void events();
    void readyAsksForStatus();
    void identicalStatusEmitsNothing();
    void sameReportInAnyFormEmitsNothing_data();
    void sameReportInAnyFormEmitsNothing();
    void signalCounts_data();
    void signalCounts();
    void speeds_data();
    void speeds();
    void countersNeverOverflow();
    void statusPollFollowsActiveStates();
    void statusPollPerState_data();
    void statusPollPerState();
    void byteOrderMarkReadsAsAnyLine_data();
    void byteOrderMarkReadsAsAnyLine();
    void updateProgressClamped_data();
    void updateProgressClamped();
    void updateSignalsEveryTime();
    void restartOnlyAfterApply();
    void updateErrorEndsUpdate_data();
    void updateErrorEndsUpdate();
    void loginSignals();
    void disconnectResets();
};

namespace {

const QByteArray kFullStatus =
    R"({"type":"status","authenticated":true,"kill_switch_mode":"on_connect","status":"connected",)"
    R"("ip":"10.8.0.2","transport":"udp","endpoint":"de1.example.net:443","attempt":0,"error":"",)"
    R"("up":1000,"down":5000,"connected_since":"2026-12-10T01:00:00Z"})";

} // namespace

void TestPipeClientEvents::events_data()
{
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QVariantMap>("expected");

    QTest::newRow("ready") << QList<QByteArray>{R"({"type":"ready","version":"1.4.2"})"}
                           << QVariantMap{{"status", "ready — daemon v1.4.2"}};
    QTest::newRow("ready without version")
        << QList<QByteArray>{R"({"type":"ready"})"} << QVariantMap{{"status", "ready — daemon v"}};
    QTest::newRow("login_complete")
        << QList<QByteArray>{R"({"type":"login_complete"})"}
        << QVariantMap{{"authenticated", true}, {"status", "authenticated"}};
    QTest::newRow("full status") << QList<QByteArray>{kFullStatus}
                                 << QVariantMap{{"authenticated", true},
                                                {"killSwitchMode", "on_connect"},
                                                {"vpnState", "connected"},
                                                {"vpnIp", "10.8.0.2"},
                                                {"transport", "udp"},
                                                {"endpoint", "de1.example.net:443"},
                                                {"attempt", 0},
                                                {"errorText", ""},
                                                {"up", 1000.0},
                                                {"down", 5000.0},
                                                {"connectedSince", "2026-12-10T01:00:00Z"}};
    QTest::newRow("bare status keeps address, mode and sign-in")
        << QList<QByteArray>{kFullStatus, R"({"type":"status"})"}
        << QVariantMap{{"authenticated", true}, {"killSwitchMode", "on_connect"},
                       {"vpnState", ""},        {"vpnIp", "10.8.0.2"},
                       {"transport", "udp"},    {"endpoint", ""},
                       {"attempt", 0},          {"up", 0.0},
                       {"connectedSince", ""}};
    QTest::newRow("mistyped status fields")
        << QList<QByteArray>{kFullStatus,
                             R"({"type":"status","authenticated":"yes","kill_switch_mode":5,)"
                             R"("status":3,"ip":false,"attempt":2.5,"error":["x"],"up":"9"})"}
        << QVariantMap{{"authenticated", false},
                       {"killSwitchMode", ""},
                       {"vpnState", ""},
                       {"vpnIp", "10.8.0.2"},
                       {"attempt", 0},
                       {"errorText", ""},
                       {"up", 0.0}};
    QTest::newRow("attempt beyond 32 bits reads 0")
        << QList<QByteArray>{R"({"type":"status","status":"reconnecting","attempt":4294967296})"}
        << QVariantMap{{"vpnState", "reconnecting"}, {"attempt", 0}};
    QTest::newRow("fractional up dropped")
        << QList<QByteArray>{R"({"type":"status","status":"connected","up":1536.9})"}
        << QVariantMap{{"up", 1536.0}};
    QTest::newRow("up beyond 64 bits clamps, negative down reads 0")
        << QList<QByteArray>{R"({"type":"status","status":"connected","up":1e40,"down":-1e40})"}
        << QVariantMap{{"up", double(std::numeric_limits<qint64>::max())}, {"down", 0.0}};
    QTest::newRow("failed with invalid UTF-8 in its error")
        << QList<QByteArray>{R"({"type":"status","status":"connecting"})",
                             "{\"type\":\"status\",\"status\":\"failed\",\"error\":"
                             "\"\xCE\xE1\xF0\xFB\xE2\"}"}
        << QVariantMap{{"vpnState", "failed"}, {"errorText", QString(5, QChar(0xFFFD))}};
    QTest::newRow("error with invalid UTF-8")
        << QList<QByteArray>{"{\"type\":\"error\",\"error\":\"tunnel \xFF\"}"}
        << QVariantMap{{"status", QStringLiteral("error: tunnel \uFFFD")},
                       {"errorText", QStringLiteral("tunnel \uFFFD")}};
    QTest::newRow("logged_out") << QList<QByteArray>{kFullStatus, R"({"type":"logged_out"})"}
                                << QVariantMap{
                                       {"authenticated", false}, {"vpnState", "disconnected"},
                                       {"vpnIp", "10.8.0.2"},    {"status", "logged out"},
                                       {"upSpeed", 0.0},         {"up", 1000.0}};
    QTest::newRow("update_available")
        << QList<
               QByteArray>{R"({"type":"update_progress","update_progress":40})",
                           R"({"type":"update_available","update_version":"2.0.0","update_url":"x"})"}
        << QVariantMap{{"updateAvailable", true},
                       {"updateVersion", "2.0.0"},
                       {"isUpdating", false},
                       {"updateProgress", 0},
                       {"updateReady", false}};
    QTest::newRow("update_progress")
        << QList<QByteArray>{R"({"type":"update_progress","update_progress":42})"}
        << QVariantMap{{"isUpdating", true}, {"updateProgress", 42}};
    QTest::newRow("update_progress without a number")
        << QList<QByteArray>{R"({"type":"update_progress","update_progress":"42"})"}
        << QVariantMap{{"isUpdating", true}, {"updateProgress", 0}};
    QTest::newRow("update_ready") << QList<QByteArray>{R"({"type":"update_ready"})"}
                                  << QVariantMap{{"isUpdating", false},
                                                 {"updateProgress", 100},
                                                 {"updateReady", true}};
    QTest::newRow("updating") << QList<QByteArray>{R"({"type":"updating"})"}
                              << QVariantMap{{"isUpdating", true}, {"updateProgress", 100}};
    QTest::newRow("error") << QList<QByteArray>{R"({"type":"error","error":"tunnel refused"})"}
                           << QVariantMap{{"status", "error: tunnel refused"},
                                          {"errorText", "tunnel refused"}};
    QTest::newRow("login_failed changes no property")
        << QList<QByteArray>{R"({"type":"login_failed","error":"denied"})"}
        << QVariantMap{{"errorText", ""}, {"authenticated", false}};
    QTest::newRow("type is case-sensitive")
        << QList<QByteArray>{R"({"type":"LOGIN_COMPLETE"})", R"({"type":"Status","status":"x"})"}
        << QVariantMap{{"authenticated", false}, {"vpnState", "disconnected"}};
    QTest::newRow("type missing or not a string")
        << QList<QByteArray>{R"({"status":"connected"})", R"({"type":1,"status":"connected"})"}
        << QVariantMap{{"vpnState", "disconnected"}};
}

void TestPipeClientEvents::events()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QVariantMap, expected);

    ConnectedClient c;
    QVERIFY(c.start());
    QSignalSpy status(c.client.get(), &PipeClient::statusChanged);
    // The marker pong rewrites the status line, so compare it before the marker.
    QList<QString> seenStatus;
    connect(c.client.get(), &PipeClient::statusChanged, this,
            [&] { seenStatus << c.client->status(); });
    QVERIFY(c.deliver(lines));

    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (it.key() == QLatin1String("status")) {
            QVERIFY2(seenStatus.size() >= 2, "status line never changed");
            QCOMPARE(seenStatus.at(seenStatus.size() - 2), it.value().toString());
            continue;
        }
        const QVariant actual = c.client->property(it.key().toLatin1());
        QVERIFY2(actual.isValid(), qPrintable(it.key()));
        QCOMPARE(actual.toString(), it.value().toString());
    }
}

void TestPipeClientEvents::readyAsksForStatus()
{
    ConnectedClient c;
    QVERIFY(c.start());
    QSignalSpy version(c.client.get(), &PipeClient::versionReceived);
    QVERIFY(c.deliver(R"({"type":"ready","version":"3.1"})"));
    QCOMPARE(version.first().first().toString(), QStringLiteral("3.1"));
    QVERIFY(c.daemon.waitForLines(1));
    QCOMPARE(c.daemon.lines().first(), QByteArray(R"({"cmd":"status"})"));
}

void TestPipeClientEvents::identicalStatusEmitsNothing()
{
    ConnectedClient c;
    QVERIFY(c.start());
    QVERIFY(c.deliver(kFullStatus));

    PipeClient *client = c.client.get();
    QSignalSpy auth(client, &PipeClient::authenticatedChanged);
    QSignalSpy vpn(client, &PipeClient::vpnStateChanged);
    QSignalSpy kill(client, &PipeClient::killSwitchChanged);
    QSignalSpy traffic(client, &PipeClient::trafficChanged);
    QVERIFY(c.deliver(kFullStatus));
    QCOMPARE(auth.count() + vpn.count() + kill.count() + traffic.count(), 0);
}

void TestPipeClientEvents::sameReportInAnyFormEmitsNothing_data()
{
    // The plain form of a status line is read without the JSON parser; the
    // same report in another form is parsed. Either way it reads the same.
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");

    const QByteArray parsedForm =
        R"({"type":"status","authenticated":true,"kill_switch_mode":"on_connect",)"
        R"("status":"connected","ip":"10.8.0.\u0032","transport":"udp",)"
        R"("endpoint":"de1.example.net:443","attempt":0.0,"error":"","up":1000.7,)"
        R"("down":5e3,"connected_since":"2026-12-10T01:00:00Z","extra":[1]})";
    QTest::newRow("plain, then parsed") << kFullStatus << parsedForm;
    QTest::newRow("parsed, then plain") << parsedForm << kFullStatus;
    QTest::newRow("Unicode spaces around")
        << kFullStatus << "\xC2\xA0" + kFullStatus + "\xE2\x80\x83";
}

void TestPipeClientEvents::sameReportInAnyFormEmitsNothing()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);

    ConnectedClient c;
    QVERIFY(c.start());
    QVERIFY(c.deliver(first));
    QCOMPARE(c.client->vpnIp(), QStringLiteral("10.8.0.2"));
    QCOMPARE(c.client->up(), 1000.0);

    PipeClient *client = c.client.get();
    QSignalSpy auth(client, &PipeClient::authenticatedChanged);
    QSignalSpy vpn(client, &PipeClient::vpnStateChanged);
    QSignalSpy kill(client, &PipeClient::killSwitchChanged);
    QSignalSpy traffic(client, &PipeClient::trafficChanged);
    QVERIFY(c.deliver(second));
    QCOMPARE(auth.count() + vpn.count() + kill.count() + traffic.count(), 0);
}

void TestPipeClientEvents::signalCounts_data()
{
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("vpnSignals");
    QTest::addColumn<int>("trafficSignals");

    const QByteArray base =
        R"({"type":"status","status":"reconnecting","ip":"10.0.0.1","transport":"udp","endpoint":"a:1","attempt":1,"error":""})";
    QTest::newRow("same report") << base << 0 << 0;
    QTest::newRow("attempt only")
        << QByteArray(
               R"({"type":"status","status":"reconnecting","ip":"10.0.0.1","transport":"udp","endpoint":"a:1","attempt":2,"error":""})")
        << 1 << 0;
    QTest::newRow("state and attempt")
        << QByteArray(
               R"({"type":"status","status":"connected","ip":"10.0.0.1","transport":"udp","endpoint":"a:1","attempt":0,"error":""})")
        << 2 << 0;
    QTest::newRow("empty ip leaves address")
        << QByteArray(
               R"({"type":"status","status":"reconnecting","ip":"","transport":"udp","endpoint":"a:1","attempt":1,"error":""})")
        << 0 << 0;
    QTest::newRow("counters only")
        << QByteArray(
               R"({"type":"status","status":"reconnecting","ip":"10.0.0.1","transport":"udp","endpoint":"a:1","attempt":1,"error":"","up":5})")
        << 0 << 1;
}

void TestPipeClientEvents::signalCounts()
{
    QFETCH(QByteArray, second);
    QFETCH(int, vpnSignals);
    QFETCH(int, trafficSignals);

    ConnectedClient c;
    QVERIFY(c.start());
    QVERIFY(c.deliver(
        R"({"type":"status","status":"reconnecting","ip":"10.0.0.1","transport":"udp","endpoint":"a:1","attempt":1,"error":""})"));
    QSignalSpy vpn(c.client.get(), &PipeClient::vpnStateChanged);
    QSignalSpy traffic(c.client.get(), &PipeClient::trafficChanged);
    QVERIFY(c.deliver(second));
    QCOMPARE(vpn.count(), vpnSignals);
    QCOMPARE(traffic.count(), trafficSignals);
    QCOMPARE(c.client->vpnIp(), QStringLiteral("10.0.0.1"));
}

void TestPipeClientEvents::speeds_data()
{
    QTest::addColumn<QByteArray>("secondSince");
    QTest::addColumn<qint64>("secondUp");
    QTest::addColumn<qint64>("gapMs");
    QTest::addColumn<double>("upSpeed");
    QTest::addColumn<double>("downSpeed");

    QTest::newRow("1.5 s apart") << QByteArray("T1") << qint64(4000) << qint64(1500) << 2000.0
                                 << 0.0;
    QTest::newRow("100 ms apart keeps the speeds")
        << QByteArray("T1") << qint64(4000) << qint64(100) << 700.0 << 0.0;
    QTest::newRow("new connection time")
        << QByteArray("T2") << qint64(4000) << qint64(1500) << 0.0 << 0.0;
    QTest::newRow("counter went down")
        << QByteArray("T1") << qint64(10) << qint64(1500) << 0.0 << 0.0;
}

void TestPipeClientEvents::speeds()
{
    QFETCH(QByteArray, secondSince);
    QFETCH(qint64, secondUp);
    QFETCH(qint64, gapMs);
    QFETCH(double, upSpeed);
    QFETCH(double, downSpeed);

    ConnectedClient c;
    QVERIFY(c.start());
    qint64 now = 1'000'000;
    c.client->setClock([&] { return now; });
    auto status = [](qint64 up, const QByteArray &since) {
        return R"({"type":"status","status":"connected","up":)" + QByteArray::number(up) +
               R"(,"down":0,"connected_since":")" + since + R"("})";
    };
    // Two earlier samples 1 s apart set a known speed of 700 B/s.
    QVERIFY(c.deliver(status(300, "T1")));
    now += 1000;
    QVERIFY(c.deliver(status(1000, "T1")));
    QCOMPARE(c.client->upSpeed(), 700.0);

    now += gapMs;
    QSignalSpy traffic(c.client.get(), &PipeClient::trafficChanged);
    QVERIFY(c.deliver(status(secondUp, secondSince)));
    QCOMPARE(traffic.count(), 1);
    QCOMPARE(c.client->upSpeed(), upSpeed);
    QCOMPARE(c.client->downSpeed(), downSpeed);
    QCOMPARE(c.client->up(), double(secondUp)); // counters move on in every case
}

void TestPipeClientEvents::countersNeverOverflow()
{
    // -1 then 1e19 on the same connection: the difference must stay inside
    // 64 bits (the sanitizer build traps a signed overflow here).
    ConnectedClient c;
    QVERIFY(c.start());
    qint64 now = 1'000'000;
    c.client->setClock([&] { return now; });
    QVERIFY(c.deliver(R"({"type":"status","status":"connected","up":-1,"down":-5,)"
                      R"("connected_since":"T1"})"));
    QCOMPARE(c.client->up(), 0.0);
    QCOMPARE(c.client->down(), 0.0);
    now += 1500;
    QVERIFY(c.deliver(R"({"type":"status","status":"connected","up":1e19,"down":1e300,)"
                      R"("connected_since":"T1"})"));
    const double max = double(std::numeric_limits<qint64>::max());
    QCOMPARE(c.client->up(), max);
    QCOMPARE(c.client->upSpeed(), max / 1.5);
    QCOMPARE(c.client->downSpeed(), max / 1.5);
}

void TestPipeClientEvents::statusPollFollowsActiveStates()
{
    ConnectedClient c;
    QVERIFY(c.start());
    QVERIFY(c.deliver(R"({"type":"status","status":"connecting"})"));
    QVERIFY(c.daemon.waitForLines(2, 6000)); // polled every 1.5 s while active
    for (const QByteArray &line : c.daemon.lines())
        QCOMPARE(line, QByteArray(R"({"cmd":"status"})"));

    qint64 now = 1'000'000;
    c.client->setClock([&] { return now; });
    QVERIFY(c.deliver(R"({"type":"status","status":"connected","up":10,"connected_since":"T"})"));
    now += 1000;
    QVERIFY(c.deliver(R"({"type":"status","status":"connected","up":1010,"connected_since":"T"})"));
    QVERIFY(c.client->upSpeed() > 0);

    QSignalSpy traffic(c.client.get(), &PipeClient::trafficChanged);
    QVERIFY(c.deliver(R"({"type":"status","status":"failed","up":1010,"connected_since":"T"})"));
    QCOMPARE(traffic.count(), 1); // the speeds were cleared
    QCOMPARE(c.client->upSpeed(), 0.0);
    QCOMPARE(c.client->up(), 1010.0);
    c.daemon.clearLines();
    QTest::qWait(2000); // longer than one poll interval: no poll may come
    QCOMPARE(c.daemon.lines(), QList<QByteArray>{});
}

void TestPipeClientEvents::statusPollPerState_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<bool>("polled");

    QTest::newRow("connecting") << QByteArray("connecting") << true;
    QTest::newRow("connected") << QByteArray("connected") << true;
    QTest::newRow("reconnecting") << QByteArray("reconnecting") << true;
    QTest::newRow("disconnected") << QByteArray("disconnected") << false;
    QTest::newRow("failed") << QByteArray("failed") << false;
    QTest::newRow("unknown word") << QByteArray("Connected") << false;
}

void TestPipeClientEvents::statusPollPerState()
{
    QFETCH(QByteArray, state);
    QFETCH(bool, polled);

    ConnectedClient c;
    QVERIFY(c.start());
    // The poll already runs: the state under test must keep it or stop it.
    QVERIFY(c.deliver(R"({"type":"status","status":"connecting"})"));
    QVERIFY(c.deliver(R"({"type":"status","status":")" + state + R"("})"));
    QCOMPARE(c.client->vpnState(), QString::fromUtf8(state));
    // The first poll is due 1.5 s after "connecting".
    QCOMPARE(c.daemon.waitForLines(1, 1900), polled);
    if (polled)
        QCOMPARE(c.daemon.lines().first(), QByteArray(R"({"cmd":"status"})"));
}

void TestPipeClientEvents::byteOrderMarkReadsAsAnyLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("expected");

    const QByteArray bom = "\xEF\xBB\xBF";
    QTest::newRow("status") << bom + kFullStatus << QByteArray("vpnIp") << "10.8.0.2";
    QTest::newRow("status with an escape")
        << bom + R"({"type":"status","status":"connected","ip":"10.8.0.\u0033"})"
        << QByteArray("vpnIp") << "10.8.0.3";
    QTest::newRow("error") << bom + R"({"type":"error","error":"tunnel refused"})"
                           << QByteArray("errorText") << "tunnel refused";
    QTest::newRow("login_complete")
        << bom + R"({"type":"login_complete"})" << QByteArray("authenticated") << "true";
    QTest::newRow("update_available")
        << bom + R"({"type":"update_available","update_version":"2.0"})"
        << QByteArray("updateVersion") << "2.0";
    QTest::newRow("after spaces, before CR")
        << " " + bom + R"({"type":"error","error":"e"})" + "\r" << QByteArray("errorText") << "e";
    QTest::newRow("after a tab, then a no-break space")
        << "\t" + bom + "\xC2\xA0" + R"({"type":"error","error":"e"})" << QByteArray("errorText")
        << "e";
    QTest::newRow("with invalid UTF-8 inside")
        << bom + "{\"type\":\"error\",\"error\":\"x\xFF\"}" << QByteArray("errorText")
        << QStringLiteral("x\uFFFD");
}

void TestPipeClientEvents::byteOrderMarkReadsAsAnyLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, property);
    QFETCH(QString, expected);

    ConnectedClient c;
    QVERIFY(c.start());
    QVERIFY(c.deliver(line));
    QCOMPARE(c.client->property(property).toString(), expected);
}

void TestPipeClientEvents::updateProgressClamped_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");

    QTest::newRow("in range") << QByteArray("42") << 42;
    QTest::newRow("0") << QByteArray("0") << 0;
    QTest::newRow("100") << QByteArray("100") << 100;
    QTest::newRow("negative") << QByteArray("-5") << 0;
    QTest::newRow("most negative int") << QByteArray("-2147483648") << 0;
    QTest::newRow("over 100") << QByteArray("250") << 100;
    QTest::newRow("largest int") << QByteArray("2147483647") << 100;
    QTest::newRow("text") << QByteArray(R"("42")") << 0;
    QTest::newRow("fraction") << QByteArray("42.5") << 0;
    QTest::newRow("null") << QByteArray("null") << 0;
}

void TestPipeClientEvents::updateProgressClamped()
{
    QFETCH(QByteArray, value);
    QFETCH(int, expected);

    ConnectedClient c;
    QVERIFY(c.start());
    QList<int> seen;
    connect(
        c.client.get(), &PipeClient::updating, this, [&] { seen << c.client->updateProgress(); },
        Qt::DirectConnection);
    QVERIFY(c.deliver(R"({"type":"update_progress","update_progress":)" + value + "}"));
    QCOMPARE(seen, QList<int>{expected}); // never seen outside 0 to 100
    QVERIFY(c.client->isUpdating());
}

void TestPipeClientEvents::updateSignalsEveryTime()
{
    ConnectedClient c;
    QVERIFY(c.start());
    QSignalSpy available(c.client.get(), &PipeClient::updateAvailableChanged);
    QSignalSpy updating(c.client.get(), &PipeClient::updating);
    QSignalSpy ready(c.client.get(), &PipeClient::updateReadyChanged);
    const QByteArray offer = R"({"type":"update_available","update_version":"2.0"})";
    QVERIFY(c.deliver({offer, offer}));
    QCOMPARE(available.count(), 2);
    QCOMPARE(updating.count(), 2);
    QCOMPARE(ready.count(), 2);
}

void TestPipeClientEvents::restartOnlyAfterApply()
{
    ConnectedClient c;
    QVERIFY(c.start());
    QSignalSpy restart(c.client.get(), &PipeClient::restartConfirmed);
    QVERIFY(c.deliver(R"({"type":"updating"})"));
    QCOMPARE(restart.count(), 0);
    QVERIFY(c.client->isUpdating());

    c.client->sendApplyUpdate();
    QVERIFY(c.client->applyingUpdate());
    QVERIFY(c.daemon.waitForLines(1));
    QCOMPARE(c.daemon.lines().last(), QByteArray(R"({"cmd":"apply_update"})"));
    QVERIFY(c.deliver(R"({"type":"updating"})"));
    QCOMPARE(restart.count(), 1);
}

void TestPipeClientEvents::updateErrorEndsUpdate_data()
{
    QTest::addColumn<bool>("downloading");
    QTest::addColumn<bool>("applying");
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<bool>("ends");

    QTest::newRow("download failed")
        << true << false << QByteArray("update download failed") << true;
    QTest::newRow("apply failed") << false << true << QByteArray("update apply failed") << true;
    QTest::newRow("capital letter")
        << true << false << QByteArray("Update download failed") << false;
    QTest::newRow("no space") << true << false << QByteArray("update-failed") << false;
    QTest::newRow("not updating") << false << false << QByteArray("update failed") << false;
}

void TestPipeClientEvents::updateErrorEndsUpdate()
{
    QFETCH(bool, downloading);
    QFETCH(bool, applying);
    QFETCH(QByteArray, error);
    QFETCH(bool, ends);

    ConnectedClient c;
    QVERIFY(c.start());
    QVERIFY(c.deliver(R"({"type":"update_available","update_version":"2.0"})"));
    if (downloading)
        QVERIFY(c.deliver(R"({"type":"update_progress","update_progress":30})"));
    if (applying)
        c.client->sendApplyUpdate();
    QSignalSpy updating(c.client.get(), &PipeClient::updating);
    QVERIFY(c.deliver(R"({"type":"error","error":")" + error + R"("})"));

    QCOMPARE(c.client->errorText(), QString::fromUtf8(error));
    QCOMPARE(updating.count(), ends ? 1 : 0);
    if (ends) {
        QVERIFY(!c.client->isUpdating());
        QCOMPARE(c.client->updateProgress(), 0);
        QVERIFY(!c.client->applyingUpdate());
        QVERIFY(c.client->updateAvailable()); // the offer stands
    } else {
        QCOMPARE(c.client->isUpdating(), downloading);
        QCOMPARE(c.client->applyingUpdate(), applying);
    }
}

void TestPipeClientEvents::loginSignals()
{
    ConnectedClient c;
    QVERIFY(c.start());
    QSignalSpy opened(c.client.get(), &PipeClient::browserOpened);
    QSignalSpy failed(c.client.get(), &PipeClient::loginFailed);
    QSignalSpy complete(c.client.get(), &PipeClient::loginComplete);
    QSignalSpy auth(c.client.get(), &PipeClient::authenticatedChanged);
    QVERIFY(c.deliver(
        {R"({"type":"browser_opened","login_url":"https://x/y","expires_at":"2026-12-10T03:00:00Z"})",
         R"({"type":"login_failed","error":"expired"})", R"({"type":"login_complete"})",
         R"({"type":"login_complete"})"}));
    QCOMPARE(opened.count(), 1);
    QCOMPARE(opened.first(), (QList<QVariant>{"https://x/y", "2026-12-10T03:00:00Z"}));
    QCOMPARE(failed.first().first().toString(), QStringLiteral("expired"));
    QCOMPARE(complete.count(), 2);
    QCOMPARE(auth.count(), 1);
}

void TestPipeClientEvents::disconnectResets()
{
    ConnectedClient c;
    QVERIFY(c.start());
    qint64 now = 1'000'000;
    c.client->setClock([&] { return now; });
    QVERIFY(c.deliver(kFullStatus));
    now += 1500;
    QVERIFY(c.deliver(QByteArray(kFullStatus).replace("\"up\":1000", "\"up\":4000")));
    QCOMPARE(c.client->upSpeed(), 2000.0);

    QSignalSpy auth(c.client.get(), &PipeClient::authenticatedChanged);
    c.daemon.drop();
    QTRY_COMPARE(c.client->status(), QStringLiteral("disconnected"));
    QCOMPARE(auth.count(), 1);
    QVERIFY(!c.client->authenticated());
    QCOMPARE(c.client->vpnState(), QStringLiteral("disconnected"));
    QCOMPARE(c.client->upSpeed(), 0.0);
    // What the daemon last said about the tunnel stays visible.
    QCOMPARE(c.client->vpnIp(), QStringLiteral("10.8.0.2"));
    QCOMPARE(c.client->endpoint(), QStringLiteral("de1.example.net:443"));
    QCOMPARE(c.client->up(), 4000.0);
    QCOMPARE(c.client->killSwitchMode(), QStringLiteral("on_connect"));
}

QTEST_GUILESS_MAIN(TestPipeClientEvents)
#include "tst_pipeclient_events.moc"
