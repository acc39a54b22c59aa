#include "e2esession.h"

#include <QFile>
#include <QtTest>

#include "testmain.h"

// A session that announces no D-Bus session bus (no DBUS_SESSION_BUS_ADDRESS,
// no bus socket in the runtime folder): nothing may start one for it, not Qt
// and not libdbus (`dbus-launch --autolaunch`, which finds a bus through the
// X server's properties). The app runs without the desktop's D-Bus features.
class TestE2eNoBus : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void noBusIsStartedAndTheAppRuns();

private:
    std::unique_ptr<E2eSession> m_session;
};

void TestE2eNoBus::init()
{
    E2E_START_DESKTOP(m_session);
}

void TestE2eNoBus::cleanup()
{
    m_session.reset();
}

void TestE2eNoBus::noBusIsStartedAndTheAppRuns()
{
    E2eSession &s = *m_session;
    // libdbus runs dbus-launch from where it was installed, not along PATH.
    const QString marker = s.root() + QStringLiteral("/dbus-launch-ran");
    QString whyNot;
    if (!s.replaceSystemTool(QStringLiteral("dbus-launch"),
                             "#!/bin/sh\nprintf '%s\\n' \"$*\" >>'" + QFile::encodeName(marker) +
                                 "'\nexit 1\n",
                             &whyNot))
        QSKIP(qPrintable(whyNot));
    s.removeEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    QVERIFY(!QFile::exists(s.root() + QStringLiteral("/runtime/bus")));
    QVERIFY(s.startDaemon());

    QProcess *app = s.startApp();
    QTRY_VERIFY_WITH_TIMEOUT(s.mainWindow().id, 20000);
    QVERIFY2(s.waitForTrayIcon().id, "no icon settled in the XEmbed tray");
    QTRY_VERIFY_WITH_TIMEOUT(s.daemonReceived(R"({"cmd":"status"})"), 10000);
    QCOMPARE(app->state(), QProcess::Running);
    QVERIFY2(!QFile::exists(marker), "dbus-launch ran");
}

KESTRIX_TEST_MAIN(TestE2eNoBus)
#include "tst_e2e_nobus.moc"
