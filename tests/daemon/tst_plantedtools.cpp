#include "daemon/daemonlauncher.h"
#include "daemon/relauncher.h"
#include "daemon/systemdservice.h"
#include "ipc/servicemainpid_unix.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>
#include <sys/stat.h>

// A user whose PATH has an empty or "." entry (or a shared folder) before the
// system folders, starting the app from a shared folder in which another user
// left programs under the names of system tools: whatever the app starts
// must never run them, and what it starts gets the system PATH and a working
// folder of no one else's.
class TestPlantedTools : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void relaunchScript_data() { oddPaths(); }
    void relaunchScript();
    void systemctlQueries_data() { oddPaths(); }
    void systemctlQueries();
    void daemonStart_data() { oddPaths(); }
    void daemonStart();

private:
    void oddPaths();
    QStringList ranTools() const;
    QStringList report(const QString &path) const;

    std::optional<QTemporaryDir> m_root;
    QString m_shared;
    QString m_private;
    QByteArray m_oldPath;
    QString m_oldDir;
};

namespace {

// Generous: the machine may be busy; success never waits this long.
constexpr int kWaitMs = 20000;

const QStringList kPlantedNames{"systemctl", "rm", "sleep", "date", "sh", "cat", "dirname"};

// Stands in for what the app starts (the interface again, the daemon): runs
// a tool by name, as any program may, and reports its working folder and PATH.
constexpr char kStandIn[] = R"sh(#!/bin/sh
date >/dev/null 2>&1
{
    pwd
    printf '%s\n' "$PATH"
} >"$0.report.tmp"
mv -- "$0.report.tmp" "$0.report"
)sh";

bool writeExecutable(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                               QFile::ReadOther | QFile::ExeOther);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestPlantedTools::oddPaths()
{
    QTest::addColumn<QString>("pathStart"); // before the system folders; %1: the shared folder

    QTest::newRow("empty entry first") << QString();
    QTest::newRow("dot first") << QStringLiteral(".");
    QTest::newRow("shared folder first") << QStringLiteral("%1");
}

void TestPlantedTools::init()
{
    m_root.emplace();
    QVERIFY(m_root->isValid());
    // A folder open to everyone, like /tmp, where another user planted tools.
    m_shared = m_root->path() + "/shared";
    QVERIFY(QDir().mkpath(m_shared));
    QCOMPARE(::chmod(QFile::encodeName(m_shared).constData(), 01777), 0);
    for (const QString &name : kPlantedNames) {
        const QByteArray marker = QFile::encodeName(m_shared + "/ran-" + name);
        QVERIFY(writeExecutable(m_shared + '/' + name, "#!/bin/sh\n: >'" + marker + "'\n"));
    }
    m_private = m_root->path() + "/private";
    QVERIFY(QDir().mkpath(m_private));
    QVERIFY(
        QFile::setPermissions(m_private, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    QFETCH(QString, pathStart);
    m_oldPath = qgetenv("PATH");
    m_oldDir = QDir::currentPath();
    const QString start = pathStart.contains("%1") ? pathStart.arg(m_shared) : pathStart;
    qputenv("PATH", QFile::encodeName(start) + ":/usr/bin:/bin");
    QVERIFY(QDir::setCurrent(m_shared));
}

void TestPlantedTools::cleanup()
{
    qputenv("PATH", m_oldPath);
    QDir::setCurrent(m_oldDir);
    m_root.reset();
}

QStringList TestPlantedTools::ranTools() const
{
    return QDir(m_shared).entryList({"ran-*"}, QDir::Files);
}

QStringList TestPlantedTools::report(const QString &path) const
{
    return QString::fromUtf8(readAll(path)).split('\n', Qt::SkipEmptyParts);
}

// The script left behind by an update, with the system's tools, run through
// to its end: the waits (systemctl, sleep), the log (rm, date), the start of
// the interface and the script's removal of itself (rm).
void TestPlantedTools::relaunchScript()
{
    Relauncher::Plan plan;
    plan.executable = m_private + "/kestrix";
    plan.tempDir = m_private;
    plan.stopTries = 1;
    plan.stopPollMs = 10;
    plan.startTries = 1;
    plan.startPollMs = 10;
    plan.graceMs = 10;
    QVERIFY(writeExecutable(plan.executable, kStandIn));
    for (const QString &tool :
         {plan.tools.shell, plan.tools.systemctl, plan.tools.rm, plan.tools.sleep, plan.tools.date})
        QVERIFY2(tool.startsWith("/usr/bin/") || tool.startsWith("/bin/"), qPrintable(tool));

    QVERIFY(Relauncher::schedule(plan));

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(plan.executable + ".report"), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(m_private + "/kestrix-relaunch.sh"), kWaitMs);
    QCOMPARE(ranTools(), QStringList());
    QCOMPARE(report(plan.executable + ".report"), (QStringList{"/", "/usr/bin:/bin"}));
    // Every entry with its time: date ran, the system's one.
    const QList<QByteArray> log = readAll(m_private + "/kestrix-relaunch.log").split('\n');
    QVERIFY(log.size() > 1);
    QVERIFY2(log.first().startsWith("[2"), log.first().constData());
}

// The service's state at start-up and its main process for the trust check.
void TestPlantedTools::systemctlQueries()
{
    Systemd::askSystemctl(QStringLiteral("kestrix.service"));

    QObject context;
    bool answered = false;
    ServiceMainPid::query(ServiceMainPid::systemctlPath(), QStringLiteral("kestrix.service"),
                          &context, [&answered](qint64) { answered = true; });
    QTRY_VERIFY_WITH_TIMEOUT(answered, kWaitMs);

    QCOMPARE(ranTools(), QStringList());
}

// The daemon, started beside the interface when its service is not up.
void TestPlantedTools::daemonStart()
{
    const QString daemon = m_private + '/' + DaemonLauncher::daemonExecutableName();
    QVERIFY(writeExecutable(daemon, kStandIn));
    DaemonLauncher launcher;
    launcher.setDaemonDirectory(m_private);
    launcher.setServiceQuery([] { return ServiceState::Stopped; });

    QCOMPARE(launcher.launchIfNeeded(), DaemonLauncher::Outcome::Started);

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(daemon + ".report"), kWaitMs);
    QCOMPARE(report(daemon + ".report"), (QStringList{"/", "/usr/bin:/bin"}));
    QCOMPARE(ranTools(), QStringList());
}

QTEST_GUILESS_MAIN(TestPlantedTools)
#include "tst_plantedtools.moc"
