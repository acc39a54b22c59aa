#include "daemon/relauncher.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

// The relauncher left behind by an update: the Windows script byte for byte,
// and the POSIX script run for real against a stand-in systemctl and a
// stand-in interface.
class TestRelauncher : public QObject
{
    Q_OBJECT

private slots:
    void windowsScript_data();
    void windowsScript();
    void secondWriteReplacesFirst();
    void unwritableTempDirStartsNothing();
    void defaultWaitsMatchTheWindowsScript();
#ifndef Q_OS_WIN
    void initTestCase();
    void init();
    void posixRun_data();
    void posixRun();
    void posixRunWaitsForStopAndRestart();
    void withoutAServiceOnlyTheGraceIsWaited_data();
    void withoutAServiceOnlyTheGraceIsWaited();
    void filesGoToThePrivateRuntimeFolder();
    void plantedLinksAreReplacedNotFollowed();
    void withoutAPrivateFolderNothingIsWritten_data();
    void withoutAPrivateFolderNothingIsWritten();

private:
    Relauncher::Plan quickPlan() const;
    void setServiceState(const QByteArray &state);
    void setLoadState(const QByteArray &loadState);
    QStringList systemctlCalls() const;
    int polls() const;
    bool waitForPolls(int more) const;
    QStringList logEntries() const;
    QStringList standInReport() const;

    QTemporaryDir m_root;
    QString m_fakeBin;
    QString m_tempDir;
    QString m_appDir;
#endif
};

namespace {

// Generous: the machine may be busy; success never waits this long.
constexpr int kWaitMs = 20000;

// The 32 lines of the Windows script. The interface's path reaches line 30
// through the environment, so the file is ASCII whatever the path holds.
const QStringList kWindowsLines{
    R"(@echo off)",
    R"(rem Kestrix post-update relauncher (auto-generated, safe to delete))",
    R"(set "LOG=%TEMP%\kestrix-relaunch.log")",
    R"(echo [%date% %time%] watchdog started> "%LOG%")",
    R"(rem Phase 1: wait for the installer to stop the service (max ~60 s).)",
    R"(rem Poll every ~1 s: a silent install can stop+restart the service)",
    R"(rem in a few seconds, and a coarser poll misses the stop entirely,)",
    R"(rem stalling the relaunch until this phase times out.)",
    R"(set /a tries=0)",
    R"(:waitstop)",
    R"("%SystemRoot%\System32\sc.exe" query kestrix | "%SystemRoot%\System32\find.exe" "RUNNING" >nul || goto waitstart)",
    R"(set /a tries+=1)",
    R"(if %tries% geq 60 goto up)",
    R"("%SystemRoot%\System32\ping.exe" -n 2 127.0.0.1 >nul)",
    R"(goto waitstop)",
    R"(rem Phase 2: wait for the installer to start it again (max ~3 min).)",
    R"(:waitstart)",
    R"(echo [%date% %time%] service stopped, waiting for restart>> "%LOG%")",
    R"(set /a tries=0)",
    R"(:waitloop)",
    R"("%SystemRoot%\System32\sc.exe" query kestrix | "%SystemRoot%\System32\find.exe" "RUNNING" >nul && goto up)",
    R"(set /a tries+=1)",
    R"(if %tries% geq 90 goto up)",
    R"("%SystemRoot%\System32\ping.exe" -n 3 127.0.0.1 >nul)",
    R"(goto waitloop)",
    R"(:up)",
    R"(rem Small grace period so the installer's [Run] page/file locks settle.)",
    R"("%SystemRoot%\System32\ping.exe" -n 3 127.0.0.1 >nul)",
    R"(echo [%date% %time%] launching UI>> "%LOG%")",
    R"(start "" "%KESTRIX_EXE%" --after-update)",
    R"(echo [%date% %time%] start exit code %errorlevel%>> "%LOG%")",
    R"(del "%~f0")",
};

QByteArray expectedWindowsScript()
{
    QByteArray bytes;
    for (const QString &line : kWindowsLines)
        bytes += line.toLatin1() + "\r\n";
    return bytes;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeExecutable(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

void TestRelauncher::windowsScript_data()
{
    QTest::addColumn<QString>("executable");

    QTest::newRow("installation path with spaces") << R"(C:\Program Files\Kestrix\kestrix.exe)";
    // cmd.exe reads the file in the console's code page: these letters must
    // not be written into it.
    QTest::newRow("cyrillic user folder")
        << QString::fromUtf8(R"(C:\Users\Пётр\AppData\Local\Kestrix\kestrix.exe)");
    QTest::newRow("percent signs") << R"(C:\Users\a%PATH%b\kestrix.exe)";
}

void TestRelauncher::windowsScript()
{
    QFETCH(QString, executable);

    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    Relauncher::Plan plan;
    plan.executable = executable;
    plan.tempDir = temp.path();
    QVERIFY(Relauncher::writeWindowsScript(plan));

    const QByteArray written = readAll(temp.path() + "/kestrix-relaunch.cmd");
    QCOMPARE(written, expectedWindowsScript());
    QCOMPARE(written.count("\r\n"), 32);
    QCOMPARE(written.count('\n'), 32);
    for (const char byte : written)
        QVERIFY2(byte > 0 && byte < 0x7f, "the script must stay ASCII");
}

void TestRelauncher::secondWriteReplacesFirst()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString path = temp.path() + "/kestrix-relaunch.cmd";
    {
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write(expectedWindowsScript() +
                      "rem a longer script left by an earlier update\r\n");
    }
    Relauncher::Plan plan;
    plan.tempDir = temp.path();
    plan.executable = R"(D:\K\kestrix.exe)";
    QVERIFY(Relauncher::writeWindowsScript(plan));

    QCOMPARE(readAll(path), expectedWindowsScript());
}

void TestRelauncher::unwritableTempDirStartsNothing()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    Relauncher::Plan plan;
    plan.executable = temp.path() + "/kestrix";
    plan.tempDir = temp.path() + "/missing";
    QVERIFY(!Relauncher::writeWindowsScript(plan));
    QVERIFY(!Relauncher::schedule(plan));
    QVERIFY(!QFileInfo::exists(plan.tempDir));
}

namespace {

// "<tries> x <seconds> s" for each wait phase and "<seconds> s" for the grace
// period, as one script will really wait.
QString posixWaits(const QByteArray &script)
{
    static const QRegularExpression tries(QStringLiteral(R"(-ge (\d+) \])"));
    // The tool by its full path, as a quoted shell word.
    static const QRegularExpression sleeps(QStringLiteral(R"(/sleep' (\S+))"));
    QStringList limits, waits;
    const QString text = QString::fromUtf8(script);
    for (const QRegularExpressionMatch &m : tries.globalMatch(text))
        limits << m.captured(1);
    for (const QRegularExpressionMatch &m : sleeps.globalMatch(text))
        waits << m.captured(1);
    if (limits.size() != 2 || waits.size() != 3)
        return QStringLiteral("unexpected script: ") + text;
    return QStringLiteral("%1 x %2 s, then %3 x %4 s, then %5 s")
        .arg(limits[0], waits[0], limits[1], waits[1], waits[2]);
}

// The same for the Windows script: "ping -n N" waits N - 1 seconds.
QString windowsWaits(const QByteArray &script)
{
    static const QRegularExpression tries(QStringLiteral(R"(geq (\d+) goto up)"));
    static const QRegularExpression pings(QStringLiteral(R"(ping\.exe" -n (\d+) 127\.0\.0\.1)"));
    QStringList limits, waits;
    const QString text = QString::fromLatin1(script);
    for (const QRegularExpressionMatch &m : tries.globalMatch(text))
        limits << m.captured(1);
    for (const QRegularExpressionMatch &m : pings.globalMatch(text))
        waits << QString::number(m.captured(1).toInt() - 1);
    if (limits.size() != 2 || waits.size() != 3)
        return QStringLiteral("unexpected script: ") + text;
    return QStringLiteral("%1 x %2 s, then %3 x %4 s, then %5 s")
        .arg(limits[0], waits[0], limits[1], waits[1], waits[2]);
}

} // namespace

// Production runs with the default plan: the POSIX script must wait as long,
// as often, as the Windows one.
void TestRelauncher::defaultWaitsMatchTheWindowsScript()
{
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    Relauncher::Plan plan;
    plan.executable = temp.path() + "/kestrix";
    plan.tempDir = temp.path();
    QVERIFY(Relauncher::writeWindowsScript(plan));

    const QString expected = QStringLiteral("60 x 1 s, then 90 x 2 s, then 2 s");
    QCOMPARE(windowsWaits(readAll(temp.path() + "/kestrix-relaunch.cmd")), expected);
    QCOMPARE(posixWaits(Relauncher::posixScript(plan)), expected);
}

#ifndef Q_OS_WIN

namespace {

// Answers `systemctl is-active kestrix.service` from the file "state" beside
// it and `systemctl show --property=LoadState --value kestrix.service` from
// "loadstate" ("loaded" when missing); without "state" there is no systemd at
// all. Notes every call in "polls".
constexpr char kFakeSystemctl[] = R"sh(#!/bin/sh
here=$(dirname -- "$0")
printf '%s\n' "$*" >>"$here/polls"
[ -f "$here/state" ] || exit 1
case "$*" in
"is-active kestrix.service")
    state=$(cat "$here/state")
    printf '%s\n' "$state"
    [ "$state" = active ] ;;
"show --property=LoadState --value kestrix.service")
    if [ -f "$here/loadstate" ]; then cat "$here/loadstate"; else echo loaded; fi ;;
*)
    exit 2 ;;
esac
)sh";

// Stands in for the interface: reports its arguments and its session.
constexpr char kStandInInterface[] = R"sh(#!/bin/sh
here=$(dirname -- "$0")
{
    printf '%s\n' "$#"
    for a in "$@"; do printf '%s\n' "$a"; done
    set -- $(cat /proc/$$/stat)
    printf '%s\n' "$6"
} >"$here/report.tmp"
mv -- "$here/report.tmp" "$here/report"
)sh";

} // namespace

void TestRelauncher::initTestCase()
{
    QVERIFY(m_root.isValid());
    m_fakeBin = m_root.path() + "/bin";
    QVERIFY(QDir().mkpath(m_fakeBin));
    QVERIFY(writeExecutable(m_fakeBin + "/systemctl", kFakeSystemctl));
}

void TestRelauncher::init()
{
    QFile::remove(m_fakeBin + "/state");
    QFile::remove(m_fakeBin + "/loadstate");
    QFile::remove(m_fakeBin + "/polls");
    // Fresh folders per test, with names a shell line would break on.
    const QString name = QString::fromLatin1(QTest::currentTestFunction()) + "-" +
                         QString::fromLatin1(QTest::currentDataTag());
    m_tempDir = m_root.path() + "/tmp '" + name + "' $HOME";
    m_appDir = m_root.path() + "/Kestrix \"app\" ;& @LOG@ @SELF@ " + name;
    QVERIFY(QDir().mkpath(m_tempDir));
    QVERIFY(QDir().mkpath(m_appDir));
}

Relauncher::Plan TestRelauncher::quickPlan() const
{
    Relauncher::Plan plan;
    plan.executable = m_appDir + "/kestrix";
    plan.tempDir = m_tempDir;
    plan.stopTries = 3;
    plan.stopPollMs = 20;
    plan.startTries = 3;
    plan.startPollMs = 20;
    plan.graceMs = 0;
    plan.tools.systemctl = m_fakeBin + "/systemctl";
    return plan;
}

void TestRelauncher::setServiceState(const QByteArray &state)
{
    QSaveFile file(m_fakeBin + "/state");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(state);
    QVERIFY(file.commit());
}

void TestRelauncher::setLoadState(const QByteArray &loadState)
{
    QSaveFile file(m_fakeBin + "/loadstate");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(loadState + '\n');
    QVERIFY(file.commit());
}

QStringList TestRelauncher::systemctlCalls() const
{
    return QString::fromUtf8(readAll(m_fakeBin + "/polls")).split('\n', Qt::SkipEmptyParts);
}

int TestRelauncher::polls() const
{
    return int(readAll(m_fakeBin + "/polls").count('\n'));
}

// True once the script has asked systemctl `more` more times.
bool TestRelauncher::waitForPolls(int more) const
{
    const int target = polls() + more;
    return QTest::qWaitFor([&] { return polls() >= target; }, kWaitMs);
}

// The log's entries without their time stamps; each must carry one.
QStringList TestRelauncher::logEntries() const
{
    static const QRegularExpression entry(
        QStringLiteral(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] (.+)$)"));
    QStringList texts;
    const QString log = QString::fromUtf8(readAll(m_tempDir + "/kestrix-relaunch.log"));
    for (const QString &line : log.split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = entry.match(line);
        texts << (match.hasMatch() ? match.captured(1) : QStringLiteral("malformed: ") + line);
    }
    return texts;
}

QStringList TestRelauncher::standInReport() const
{
    return QString::fromUtf8(readAll(m_appDir + "/report")).split('\n', Qt::SkipEmptyParts);
}

void TestRelauncher::posixRun_data()
{
    QTest::addColumn<QByteArray>("state"); // empty: no systemd at all
    QTest::addColumn<bool>("interfacePresent");
    QTest::addColumn<QStringList>("entries");

    const QString started = QStringLiteral("watchdog started");
    const QString stopped = QStringLiteral("service stopped, waiting for restart");
    const QString noService = QStringLiteral("no kestrix service to wait for");
    const QString launching = QStringLiteral("launching UI");
    const QString exitZero = QStringLiteral("start exit code 0");

    QTest::newRow("no systemd: no waits")
        << QByteArray() << true << QStringList{started, noService, launching, exitZero};
    QTest::newRow("service never stops: launched after phase 1")
        << QByteArray("active") << true << QStringList{started, launching, exitZero};
    QTest::newRow("service never restarts: launched after phase 2")
        << QByteArray("inactive") << true << QStringList{started, stopped, launching, exitZero};
    QTest::newRow("interface gone: its start fails")
        << QByteArray() << false
        << QStringList{started, noService, launching, QStringLiteral("start exit code 127")};
}

void TestRelauncher::posixRun()
{
    QFETCH(QByteArray, state);
    QFETCH(bool, interfacePresent);
    QFETCH(QStringList, entries);

    if (!state.isEmpty())
        setServiceState(state);
    const Relauncher::Plan plan = quickPlan();
    if (interfacePresent)
        QVERIFY(writeExecutable(plan.executable, kStandInInterface));

    QVERIFY(Relauncher::schedule(plan));

    // The script's last act is deleting itself.
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(m_tempDir + "/kestrix-relaunch.sh"), kWaitMs);
    QCOMPARE(logEntries(), entries);
    if (!state.isEmpty())
        QVERIFY(polls() > 0);

    if (interfacePresent) {
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_appDir + "/report"), kWaitMs);
        const QStringList report = standInReport();
        QCOMPARE(report.size(), 3);
        QCOMPARE(report.mid(0, 2), (QStringList{"1", "--after-update"}));
        // A session of its own: the interface's exit does not take it along.
        QVERIFY(report.at(2) != QString::number(getsid(0)));
    }

    // The Windows script is produced here too.
    const QList<QByteArray> cmdLines = readAll(m_tempDir + "/kestrix-relaunch.cmd").split('\n');
    QCOMPARE(cmdLines.size(), 33);
    QCOMPARE(cmdLines.at(29), "start \"\" \"%KESTRIX_EXE%\" --after-update\r");
}

void TestRelauncher::posixRunWaitsForStopAndRestart()
{
    Relauncher::Plan plan = quickPlan();
    plan.stopTries = 2000; // long enough never to run out here
    plan.startTries = 2000;
    QVERIFY(writeExecutable(plan.executable, kStandInInterface));
    setServiceState("active");

    QVERIFY(Relauncher::schedule(plan));

    // Running: phase 1 keeps waiting.
    QVERIFY(waitForPolls(3));
    QCOMPARE(logEntries(), QStringList{"watchdog started"});
    QVERIFY(!QFileInfo::exists(m_appDir + "/report"));

    // Stopped, then starting: phase 2 keeps waiting.
    setServiceState("inactive");
    QTRY_COMPARE_WITH_TIMEOUT(
        logEntries(), (QStringList{"watchdog started", "service stopped, waiting for restart"}),
        kWaitMs);
    QVERIFY(waitForPolls(3));
    setServiceState("activating");
    QVERIFY(waitForPolls(3));
    QVERIFY(!QFileInfo::exists(m_appDir + "/report"));

    // Running again: the interface comes back.
    setServiceState("active");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_appDir + "/report"), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(m_tempDir + "/kestrix-relaunch.sh"), kWaitMs);
    QCOMPARE(logEntries(), (QStringList{"watchdog started", "service stopped, waiting for restart",
                                        "launching UI", "start exit code 0"}));
    QCOMPARE(standInReport().mid(0, 2), (QStringList{"1", "--after-update"}));
}

// The daemon beside the interface, without a systemd unit (or without systemd):
// nothing will stop or start a service, so waiting for one would only keep
// the user without an interface for minutes.
void TestRelauncher::withoutAServiceOnlyTheGraceIsWaited_data()
{
    QTest::addColumn<QByteArray>("state"); // empty: no systemd at all
    QTest::addColumn<QByteArray>("loadState");

    QTest::newRow("no systemd") << QByteArray() << QByteArray();
    QTest::newRow("unit not installed") << QByteArray("inactive") << QByteArray("not-found");
    QTest::newRow("unit masked") << QByteArray("inactive") << QByteArray("masked");
}

void TestRelauncher::withoutAServiceOnlyTheGraceIsWaited()
{
    QFETCH(QByteArray, state);
    QFETCH(QByteArray, loadState);

    if (!state.isEmpty()) {
        setServiceState(state);
        setLoadState(loadState);
    }
    // Waits that would last for hours, were they waited.
    Relauncher::Plan plan = quickPlan();
    plan.stopTries = 5000;
    plan.stopPollMs = 1000;
    plan.startTries = 5000;
    plan.startPollMs = 2000;
    plan.graceMs = 300;
    QVERIFY(writeExecutable(plan.executable, kStandInInterface));

    QVERIFY(Relauncher::schedule(plan));

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_appDir + "/report"), kWaitMs);
    QCOMPARE(standInReport().mid(0, 2), (QStringList{"1", "--after-update"}));
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(m_tempDir + "/kestrix-relaunch.sh"), kWaitMs);
    QCOMPARE(logEntries(), (QStringList{"watchdog started", "no kestrix service to wait for",
                                        "launching UI", "start exit code 0"}));
    // Asked once whether there is a unit, never for its state.
    QCOMPARE(systemctlCalls(), QStringList{"show --property=LoadState --value kestrix.service"});
}

// Another user can neither see nor plant anything where the relauncher writes.
void TestRelauncher::filesGoToThePrivateRuntimeFolder()
{
    const QString runtime = m_root.path() + "/runtime";
    const QString temp = m_root.path() + "/shared-tmp";
    QVERIFY(QDir().mkpath(runtime) && QDir().mkpath(temp));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray oldTemp = qgetenv("TMPDIR");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_RUNTIME_DIR", oldRuntime);
        qputenv("TMPDIR", oldTemp);
    });
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("TMPDIR", QFile::encodeName(temp));

    QCOMPARE(Relauncher::Plan::forThisProcess().tempDir, runtime);

    // Unset: a folder of our own in the temporary directory, not that directory.
    qunsetenv("XDG_RUNTIME_DIR");
    const QString own = Relauncher::Plan::forThisProcess().tempDir;
    QCOMPARE(QFileInfo(own).absolutePath(), temp);
    QVERIFY(QFileInfo(own).isDir());
    QCOMPARE(QFileInfo(own).ownerId(), uint(geteuid()));
    QCOMPARE(QFileInfo(own).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// In a shared temporary directory another user may leave links under the
// scripts' and the log's names; writing through them would clobber the files
// they point at.
void TestRelauncher::plantedLinksAreReplacedNotFollowed()
{
    const QByteArray victimText = "precious\n";
    const QString victim = m_root.path() + "/victim";
    {
        QFile file(victim);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(victimText);
    }
    for (const char *name : {"kestrix-relaunch.cmd", "kestrix-relaunch.sh", "kestrix-relaunch.log"})
        QVERIFY(QFile::link(victim, m_tempDir + '/' + name));
    const Relauncher::Plan plan = quickPlan();
    QVERIFY(writeExecutable(plan.executable, kStandInInterface));

    QVERIFY(Relauncher::schedule(plan));

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_appDir + "/report"), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(m_tempDir + "/kestrix-relaunch.sh"), kWaitMs);
    QCOMPARE(readAll(victim), victimText);
    QVERIFY(!QFileInfo(m_tempDir + "/kestrix-relaunch.cmd").isSymLink());
    QVERIFY(!QFileInfo(m_tempDir + "/kestrix-relaunch.log").isSymLink());
    QCOMPARE(logEntries().size(), 4);
}

// No private folder to be had: the relauncher must not fall back to any other
// place, the file system's root least of all (an empty folder plus a name).
void TestRelauncher::withoutAPrivateFolderNothingIsWritten_data()
{
    QTest::addColumn<QString>("fallback"); // what waits under the fallback folder's name

    QTest::newRow("folder of another user") << "foreign";
    QTest::newRow("folder open to everyone") << "open";
    QTest::newRow("link to a private folder") << "link";
}

void TestRelauncher::withoutAPrivateFolderNothingIsWritten()
{
    QFETCH(QString, fallback);

    const QStringList atRoot{"/kestrix-relaunch.sh", "/kestrix-relaunch.cmd",
                             "/kestrix-relaunch.log"};
    for (const QString &path : atRoot) {
        if (QFileInfo::exists(path))
            QSKIP(qPrintable(path + " exists already: cannot tell who wrote it"));
    }
    const auto removeAtRoot = qScopeGuard([&] {
        for (const QString &path : atRoot)
            QFile::remove(path);
    });

    const QString temp = m_tempDir + "/shared";
    const QString own = temp + "/kestrix-runtime-" + QString::number(geteuid());
    QVERIFY(QDir().mkpath(temp));
    if (fallback == "link") {
        const QString target = m_tempDir + "/private";
        QVERIFY(QDir().mkpath(target));
        QVERIFY(
            QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QFile::link(target, own));
    } else {
        QVERIFY(QDir().mkpath(own));
        QVERIFY(QFile::setPermissions(
            own, fallback == "open" ? QFile::Permissions(0x7777)
                                    : QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        if (fallback == "foreign") {
            if (geteuid() != 0)
                QSKIP("only root can give a folder to another user");
            QCOMPARE(chown(QFile::encodeName(own).constData(), 65534, 65534), 0);
        }
    }
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray oldTemp = qgetenv("TMPDIR");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_RUNTIME_DIR", oldRuntime);
        qputenv("TMPDIR", oldTemp);
    });
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(temp));

    Relauncher::Plan plan = Relauncher::Plan::forThisProcess();
    QCOMPARE(plan.tempDir, QString());
    plan.executable = m_appDir + "/kestrix"; // not there: nothing to bring back by mistake
    plan.graceMs = 0;

    QVERIFY(!Relauncher::schedule(plan));
    QVERIFY(!Relauncher::writeWindowsScript(plan));
    for (const QString &path : atRoot)
        QVERIFY2(!QFileInfo::exists(path), qPrintable(path + " was written"));
    QCOMPARE(QDir(own).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

#endif

QTEST_GUILESS_MAIN(TestRelauncher)
#include "tst_relauncher.moc"
