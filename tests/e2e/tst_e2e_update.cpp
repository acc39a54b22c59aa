#include "daemon/relauncher.h"
#include "daemon/relaunchscript.h"
#include "e2esession.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include "testmain.h"

#include <csignal>

// The second of the two ways the app ends: the user installs and applies an
// update, the daemon confirms it is updating, and the app leaves the
// relauncher behind and quits. The relauncher then runs for real against a
// stand-in systemctl, and starts a stand-in in the app's place.
class TestE2eUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void applyingAnUpdateQuitsAndLeavesTheRelauncher();

private:
    bool clickUpdateButton(const QString &name, const QByteArray &command);
    QString relaunchFolder() const;
    void setServiceState(const QByteArray &state);
    QStringList logEntries(const QString &folder) const;

    std::unique_ptr<E2eSession> m_session;
};

namespace {

// Answers `systemctl is-active kestrix.service` from the file "state" in
// the folder @HERE@, says the unit is installed, and notes who asked: the
// relauncher script, to be stopped at the end.
constexpr char kFakeSystemctl[] = R"sh(#!/bin/sh
here='@HERE@'
printf '%s\n' "$PPID" >>"$here/systemctl-callers"
if [ "$*" = "show --property=LoadState --value kestrix.service" ]; then
    echo loaded
    exit 0
fi
[ "$*" = "is-active kestrix.service" ] || exit 2
state=$(cat "$here/state" 2>/dev/null)
printf '%s\n' "$state"
[ "$state" = active ]
)sh";

// Stands in for the relaunched app: reports its arguments.
constexpr char kStandInApp[] = R"sh(#!/bin/sh
printf '%s\n' "$@" >"$0.report.tmp"
mv -- "$0.report.tmp" "$0.report"
)sh";

const QByteArray kInstall = R"({"cmd":"install_update"})";
const QByteArray kApply = R"({"cmd":"apply_update"})";
const QByteArray kShutdown = R"({"cmd":"shutdown"})";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestE2eUpdate::init()
{
    E2E_START_DESKTOP(m_session);
    E2E_REQUIRE_CONTROLS(m_session);
    // The app takes systemctl from the system folders only: the stand-in goes there.
    QString whyNot;
    if (!m_session->replaceSystemTool(
            QStringLiteral("systemctl"),
            QByteArray(kFakeSystemctl)
                .replace("@HERE@", QFile::encodeName(m_session->root() + "/standins")),
            &whyNot))
        QSKIP(qPrintable(whyNot));
    // The service stays up until the test says otherwise: the script waits.
    setServiceState("active");
}

void TestE2eUpdate::cleanup()
{
    // The script runs in a session of its own, outside the test's reach but
    // for this: whoever asked the stand-in systemctl.
    const QString callers = m_session->root() + QStringLiteral("/standins/systemctl-callers");
    for (const QByteArray &pid : readAll(callers).split('\n')) {
        if (readAll(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(pid)))
                .contains(Relauncher::kPosixScriptName))
            ::kill(pid.toInt(), SIGKILL);
    }
    m_session.reset();
}

void TestE2eUpdate::setServiceState(const QByteArray &state)
{
    QFile file(m_session->root() + QStringLiteral("/standins/state.tmp"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(state) == state.size());
    file.close();
    QVERIFY(file.rename(m_session->root() + QStringLiteral("/standins/state")) ||
            (QFile::remove(m_session->root() + QStringLiteral("/standins/state")) &&
             file.rename(m_session->root() + QStringLiteral("/standins/state"))));
}

// Scrolls the settings to their end, where the update banner is, and clicks
// the button of that name once it stays put (a click while the list still
// glides only stops it), until the daemon receives the command.
bool TestE2eUpdate::clickUpdateButton(const QString &name, const QByteArray &command)
{
    E2eSession &s = *m_session;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const E2eSession::Window main = s.mainWindow();
        if (!main.id)
            return false;
        for (int i = 0; i < 5; ++i)
            s.click(main.rect.topLeft() + QPoint(200, 300), 5); // the wheel, down
        QRect at;
        QRect before;
        if (!QTest::qWaitFor(
                [&] {
                    before = at;
                    return s.findControl(QStringLiteral("push button"), name, &at) &&
                           at == before && main.rect.contains(at);
                },
                20000))
            continue;
        s.click(at.center());
        // As a person would, click again if the click was taken for something else.
        if (QTest::qWaitFor([&] { return s.daemonReceived(command); }, 5000))
            return true;
    }
    return false;
}

// Where the app wrote the relauncher: wherever its plan put it under the
// session's folders (the temporary folder, or a private one).
QString TestE2eUpdate::relaunchFolder() const
{
    QDirIterator files(m_session->root(), {QString::fromLatin1(Relauncher::kWindowsScriptName)},
                       QDir::Files, QDirIterator::Subdirectories);
    return files.hasNext() ? QFileInfo(files.next()).absolutePath() : QString();
}

QStringList TestE2eUpdate::logEntries(const QString &folder) const
{
    static const QRegularExpression entry(QStringLiteral(R"(^\[[^\]]+\] (.+)$)"));
    QStringList texts;
    const QString log = QString::fromUtf8(readAll(folder + u'/' + Relauncher::kLogName));
    for (const QString &line : log.split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = entry.match(line);
        texts << (match.hasMatch() ? match.captured(1) : QStringLiteral("malformed: ") + line);
    }
    return texts;
}

void TestE2eUpdate::applyingAnUpdateQuitsAndLeavesTheRelauncher()
{
    E2eSession &s = *m_session;
    QVERIFY(s.startDaemon({"--auto-login", E2eSession::kAutoLoginSecs, "--offer-update", "9.9.9"}));
    QProcess *app = s.startApp();
    QVERIFY2(s.signIn(), s.failure());

    // Settings, scrolled to the end where the update banner is.
    QVERIFY2(s.clickControl(QStringLiteral("push button"), QStringLiteral("Settings")),
             s.failure());

    // Install: the download runs to its end, and the restart button comes.
    QVERIFY2(clickUpdateButton(QStringLiteral("Update"), kInstall),
             (QByteArray("no install by the install button: ") + s.failure()).constData());
    // Apply: the daemon confirms it is updating and ends; the app follows.
    QVERIFY2(clickUpdateButton(QStringLiteral("Restart"), kApply),
             (QByteArray("no apply by the restart button: ") + s.failure()).constData());
    QCOMPARE(s.daemonLog().count(kInstall), 1);
    QVERIFY2(app->waitForFinished(20000), "the app did not quit");
    QCOMPARE(app->exitStatus(), QProcess::NormalExit);
    QCOMPARE(app->exitCode(), 0);
    QVERIFY(s.daemon()->waitForFinished(10000));
    // Quitting for an update never asks the daemon to shut down.
    QVERIFY(!s.daemonReceived(kShutdown));

    // The relauncher, written for both platforms; the POSIX one names this app.
    const QString folder = relaunchFolder();
    QVERIFY2(!folder.isEmpty(), "no relauncher was written");
    QCOMPARE(readAll(folder + u'/' + Relauncher::kWindowsScriptName),
             QByteArray::fromStdString(RelaunchScript::windowsScript()));
    const QString script = folder + u'/' + Relauncher::kPosixScriptName;
    QVERIFY(readAll(script).contains("exe='" + QFile::encodeName(s.appPath()) + "'\n"));

    // It is running, waiting for the service to stop.
    QTRY_VERIFY_WITH_TIMEOUT(logEntries(folder) == QStringList{"watchdog started"}, 10000);
    QVERIFY(QFileInfo::exists(script));

    // The installer stops and restarts the service; the app comes back.
    QVERIFY(QFile::remove(s.appPath()));
    QFile standIn(s.appPath());
    QVERIFY(standIn.open(QIODevice::WriteOnly));
    standIn.write(kStandInApp);
    standIn.close();
    QVERIFY(standIn.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    setServiceState("inactive");
    QTRY_VERIFY_WITH_TIMEOUT(logEntries(folder).size() >= 2, 15000);
    setServiceState("active");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(s.appPath() + ".report"), 30000);
    QCOMPARE(readAll(s.appPath() + ".report"), QByteArray("--after-update\n"));
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(script), 10000);
    QCOMPARE(logEntries(folder),
             (QStringList{"watchdog started", "service stopped, waiting for restart",
                          "launching UI", "start exit code 0"}));
}

KESTRIX_TEST_MAIN(TestE2eUpdate)
#include "tst_e2e_update.moc"
