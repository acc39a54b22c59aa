#include "daemon/commandlines.h"
#include "daemon/daemonlauncher.h"
#include "daemon/servicestate.h"
#ifndef Q_OS_WIN
#include "daemon/systemdservice.h"
#endif

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <atomic>

// The daemon check at start-up: what each service state leads to, and the
// daemon executable started for real from a folder with an awkward name.
class TestDaemonLauncher : public QObject
{
    Q_OBJECT

private slots:
    void decision_data();
    void decision();
    void windowsCommandLines_data();
    void windowsCommandLines();
#ifndef Q_OS_WIN
    void systemdState_data();
    void systemdState();
    void outcome_data();
    void outcome();
    void startsWithForegroundOnlyAndDoesNotWait();
    void ensureRunningAsksOffTheCallingThread();
#endif
};

void TestDaemonLauncher::decision_data()
{
    QTest::addColumn<ulong>("code");
    QTest::addColumn<DaemonAction>("action");

    QTest::newRow("running") << 4ul << DaemonAction::StartNothing;
    QTest::newRow("start pending") << 2ul << DaemonAction::StartNothing;
    QTest::newRow("stopped") << 1ul << DaemonAction::CheckExecutable;
    QTest::newRow("stop pending") << 3ul << DaemonAction::CheckExecutable;
    QTest::newRow("continue pending") << 5ul << DaemonAction::CheckExecutable;
    QTest::newRow("pause pending") << 6ul << DaemonAction::CheckExecutable;
    QTest::newRow("paused") << 7ul << DaemonAction::CheckExecutable;
    QTest::newRow("failed query") << 0ul << DaemonAction::CheckExecutable;
    QTest::newRow("unknown state code") << 8ul << DaemonAction::CheckExecutable;
}

void TestDaemonLauncher::decision()
{
    QFETCH(ulong, code);
    QFETCH(DaemonAction, action);
    QCOMPARE(daemonActionFor(serviceStateFromCode(code)), action);
}

void TestDaemonLauncher::windowsCommandLines_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("daemon");
    QTest::addColumn<QString>("relaunch");

    QTest::newRow("spaces") << R"(C:\Program Files\Kestrix\kestrix-daemon.exe)"
                            << R"("C:\Program Files\Kestrix\kestrix-daemon.exe" --foreground)"
                            << R"(cmd.exe /c ""C:\Program Files\Kestrix\kestrix-daemon.exe"")";
    // cmd.exe would strip a single pair of quotes here and split at "(" or "&".
    QTest::newRow("parentheses and ampersand")
        << R"(C:\Users\Jo (Work) & Co\Temp\kestrix-relaunch.cmd)"
        << R"("C:\Users\Jo (Work) & Co\Temp\kestrix-relaunch.cmd" --foreground)"
        << R"(cmd.exe /c ""C:\Users\Jo (Work) & Co\Temp\kestrix-relaunch.cmd"")";
}

void TestDaemonLauncher::windowsCommandLines()
{
    QFETCH(QString, path);
    QFETCH(QString, daemon);
    QFETCH(QString, relaunch);
    QCOMPARE(QString::fromStdWString(CommandLines::daemon(path.toStdWString())), daemon);
    QCOMPARE(QString::fromStdWString(CommandLines::relaunch(path.toStdWString())), relaunch);
}

#ifndef Q_OS_WIN

namespace {

// Generous: the machine may be busy; success never waits this long.
constexpr int kWaitMs = 20000;

// Stands in for the daemon: reports its arguments, working directory and one
// environment variable, then stays until the test releases it.
constexpr char kStandInDaemon[] = R"sh(#!/bin/sh
here=$(dirname -- "$0")
{
    printf '%s\n' "$#"
    for a in "$@"; do printf '%s\n' "$a"; done
    pwd
    printf '%s\n' "${KESTRIX_TEST_MARK-}"
} >"$here/report.tmp"
mv -- "$here/report.tmp" "$here/report"
i=0
while [ ! -e "$here/release" ] && [ "$i" -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
: >"$here/finished"
)sh";

enum class DaemonFile
{
    None,
    Directory,
    NotExecutable,
    StandIn
};

bool placeDaemonFile(const QString &dir, DaemonFile kind)
{
    const QString path = dir + QLatin1Char('/') + DaemonLauncher::daemonExecutableName();
    switch (kind) {
    case DaemonFile::None:
        return true;
    case DaemonFile::Directory:
        return QDir(dir).mkdir(DaemonLauncher::daemonExecutableName());
    case DaemonFile::NotExecutable:
    case DaemonFile::StandIn: {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(kStandInDaemon) < 0)
            return false;
        file.close();
        if (kind == DaemonFile::NotExecutable)
            return true;
        return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    }
    return false;
}

// A folder name that a shell line would split, expand or end early.
QString awkwardFolder(const QTemporaryDir &root)
{
    const QString path = root.path() + QStringLiteral("/Kestrix dir 'q' \"dq\" $HOME ;& `x`");
    return QDir().mkpath(path) ? path : QString();
}

} // namespace

void TestDaemonLauncher::systemdState_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<ServiceState>("state");

    QTest::newRow("active") << QByteArray("ActiveState=active\n") << ServiceState::Running;
    QTest::newRow("reloading") << QByteArray("ActiveState=reloading\n") << ServiceState::Running;
    QTest::newRow("activating") << QByteArray("ActiveState=activating\n")
                                << ServiceState::StartPending;
    QTest::newRow("deactivating") << QByteArray("ActiveState=deactivating\n")
                                  << ServiceState::StopPending;
    QTest::newRow("inactive (also an unknown unit)")
        << QByteArray("ActiveState=inactive\n") << ServiceState::Stopped;
    QTest::newRow("failed") << QByteArray("ActiveState=failed\n") << ServiceState::Stopped;
    QTest::newRow("no answer") << QByteArray() << ServiceState::QueryFailed;
    QTest::newRow("another property")
        << QByteArray("SubState=running\n") << ServiceState::QueryFailed;
    QTest::newRow("unknown value")
        << QByteArray("ActiveState=maintenance\n") << ServiceState::QueryFailed;
    QTest::newRow("value only") << QByteArray("active\n") << ServiceState::QueryFailed;
}

void TestDaemonLauncher::systemdState()
{
    QFETCH(QByteArray, output);
    QFETCH(ServiceState, state);
    QCOMPARE(Systemd::stateFromShowOutput(output), state);
}

void TestDaemonLauncher::outcome_data()
{
    QTest::addColumn<ServiceState>("service");
    QTest::addColumn<DaemonFile>("file");
    QTest::addColumn<DaemonLauncher::Outcome>("outcome");

    using O = DaemonLauncher::Outcome;
    QTest::newRow("running") << ServiceState::Running << DaemonFile::StandIn << O::ServiceUp;
    QTest::newRow("start pending")
        << ServiceState::StartPending << DaemonFile::StandIn << O::ServiceUp;
    QTest::newRow("stopped") << ServiceState::Stopped << DaemonFile::StandIn << O::Started;
    QTest::newRow("paused") << ServiceState::Paused << DaemonFile::StandIn << O::Started;
    QTest::newRow("no service") << ServiceState::QueryFailed << DaemonFile::StandIn << O::Started;
    QTest::newRow("no executable")
        << ServiceState::QueryFailed << DaemonFile::None << O::NoExecutable;
    QTest::newRow("a folder of that name")
        << ServiceState::Stopped << DaemonFile::Directory << O::NoExecutable;
    QTest::newRow("not executable")
        << ServiceState::Stopped << DaemonFile::NotExecutable << O::StartFailed;
}

void TestDaemonLauncher::outcome()
{
    QFETCH(ServiceState, service);
    QFETCH(DaemonFile, file);
    QFETCH(DaemonLauncher::Outcome, outcome);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString dir = awkwardFolder(root);
    QVERIFY(!dir.isEmpty());
    QVERIFY(placeDaemonFile(dir, file));
    const QStringList before = QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    DaemonLauncher launcher;
    launcher.setDaemonDirectory(dir);
    int queries = 0;
    launcher.setServiceQuery([&] {
        ++queries;
        return service;
    });
    QCOMPARE(launcher.launchIfNeeded(), outcome);
    QCOMPARE(queries, 1);

    if (outcome == DaemonLauncher::Outcome::Started) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + "/report"), kWaitMs);
        QVERIFY(QFile(dir + "/release").open(QIODevice::WriteOnly));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + "/finished"), kWaitMs);
    } else {
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    }
}

void TestDaemonLauncher::ensureRunningAsksOffTheCallingThread()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString dir = awkwardFolder(root);
    QVERIFY(!dir.isEmpty());
    QVERIFY(placeDaemonFile(dir, DaemonFile::StandIn));

    // The service's answer waits for this thread: had the question been asked
    // here, it would have waited its 10 s out first.
    QSemaphore answer;
    std::atomic<bool> answeredInTime{false};
    std::atomic<QThread *> askedOn{nullptr};
    DaemonLauncher launcher;
    launcher.setDaemonDirectory(dir);
    launcher.setServiceQuery([&] {
        askedOn = QThread::currentThread();
        answeredInTime = answer.tryAcquire(1, 10000);
        return ServiceState::Stopped;
    });
    launcher.ensureDaemonRunning();
    answer.release();
    auto waitForWorker = qScopeGuard([] { QThreadPool::globalInstance()->waitForDone(); });

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + "/report"), kWaitMs);
    QVERIFY2(answeredInTime, "the service was asked on the calling thread");
    QVERIFY(askedOn.load() != QThread::currentThread());
    QVERIFY(QFile(dir + "/release").open(QIODevice::WriteOnly));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + "/finished"), kWaitMs);
}

void TestDaemonLauncher::startsWithForegroundOnlyAndDoesNotWait()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString dir = awkwardFolder(root);
    QVERIFY(!dir.isEmpty());
    QVERIFY(placeDaemonFile(dir, DaemonFile::StandIn));
    // A working folder of its own, to see that the daemon does not get it.
    const QString workDir = root.path() + QStringLiteral("/work dir");
    QVERIFY(QDir().mkpath(workDir));
    const QString previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir));
    auto restoreDir = qScopeGuard([&] { QDir::setCurrent(previousDir); });
    qputenv("KESTRIX_TEST_MARK", "mark with spaces");
    auto restoreEnv = qScopeGuard([] { qunsetenv("KESTRIX_TEST_MARK"); });

    DaemonLauncher launcher;
    launcher.setDaemonDirectory(dir);
    launcher.setServiceQuery([] { return ServiceState::Stopped; });
    QCOMPARE(launcher.launchIfNeeded(), DaemonLauncher::Outcome::Started);

    // Back here while the daemon still runs: nothing waited for it.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + "/report"), kWaitMs);
    QVERIFY(!QFile::exists(dir + "/finished"));

    QFile report(dir + "/report");
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(report.readAll()).split('\n');
    const QStringList expected{"1", "--foreground", "/", "mark with spaces", ""};
    QCOMPARE(lines, expected);

    QVERIFY(QFile(dir + "/release").open(QIODevice::WriteOnly));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + "/finished"), kWaitMs);
}

#endif

QTEST_GUILESS_MAIN(TestDaemonLauncher)
#include "tst_daemonlauncher.moc"
