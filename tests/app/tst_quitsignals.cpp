#include "app/quitsignals_unix.h"

#include <QCoreApplication>
#include <QTimer>
#include <QtTest>

#include <csignal>

// The signals a session sends at its end quit the event loop the ordinary
// way: exec returns 0 after aboutToQuit, and the process lives on to tear
// down. Without the handler the first row would end this test process.
class TestQuitSignals : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void quitsTheEventLoop_data();
    void quitsTheEventLoop();
};

void TestQuitSignals::initTestCase()
{
    QVERIFY(quitOnTerminationSignals(*QCoreApplication::instance()));
    // Once is enough; a second call changes nothing.
    QVERIFY(quitOnTerminationSignals(*QCoreApplication::instance()));
}

void TestQuitSignals::quitsTheEventLoop_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestQuitSignals::quitsTheEventLoop()
{
    QFETCH(int, signal);
    int aboutToQuit = 0;
    const QMetaObject::Connection watch =
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                [&aboutToQuit] { ++aboutToQuit; });
    // Twice, as a logout may send it: one quit all the same.
    QTimer::singleShot(0, this, [signal] {
        ::raise(signal);
        ::raise(signal);
    });
    // Safety net only: should the signal be lost, the loop still ends, with 1.
    QTimer safety;
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, this, [] { QCoreApplication::exit(1); });
    safety.start(20000);

    QCOMPARE(QCoreApplication::exec(), 0);
    disconnect(watch);
    QCOMPARE(aboutToQuit, 1);
}

QTEST_GUILESS_MAIN(TestQuitSignals)
#include "tst_quitsignals.moc"
