// The start-with-the-system entry as a freedesktop.org autostart file, through
// AppSettings, in a temporary XDG_CONFIG_HOME.

#include "appidentity.h"
#include "desktopentry.h"
#include "settings/appsettings.h"
#include "settings/xdgautostart.h"
#include "settingsfixture.h"
#include "signallog.h"

#include <QProcess>
#include <QtTest>

using namespace SettingsFixture;

namespace {

const char kEnableAutostart[] = "--child-enable-autostart";

const QByteArray kOldInstallEntry = "[Desktop Entry]\n"
                                    "Type=Application\n"
                                    "Name=Kestrix\n"
                                    "Exec=\"/opt/old place/kestrix\" --minimized\n";

// Restores an environment variable when the test ends, however it ends.
class EnvGuard
{
public:
    explicit EnvGuard(const char *name)
        : m_name(name), m_was(qgetenv(name)), m_set(qEnvironmentVariableIsSet(name))
    {
    }
    ~EnvGuard()
    {
        if (m_set)
            qputenv(m_name, m_was);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    QByteArray m_was;
    bool m_set;
};

QStringList entryCommand(const QString &path)
{
    return DesktopEntry::execArguments(
        DesktopEntry::mainGroup(readFile(path)).value(QStringLiteral("Exec")));
}

} // namespace

class TestAutostart : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetStore(); }

    void entryPath_data();
    void entryPath();
    void execValueReadsBackAsOnePath_data();
    void execValueReadsBackAsOnePath();
    void switchingOnWritesAnEntry();
    void entryFromAnotherInstallIsKept();
    void entryIsLookedAtOnlyAtStart_data();
    void entryIsLookedAtOnlyAtStart();
    void entrySwitchedOffByTheDesktop_data();
    void entrySwitchedOffByTheDesktop();
    void unwritableFolderIsSilent();
    void pathWithSpecialCharactersStartsThatPath();
    void entryPassesTheDesktopValidator_data();
    void entryPassesTheDesktopValidator();
};

void TestAutostart::entryPath_data()
{
    QTest::addColumn<QByteArray>("xdgConfigHome"); // null: unset
    QTest::addColumn<QString>("expected");         // relative to HOME when not absolute

    QTest::newRow("set") << QByteArray("/srv/cfg") << "/srv/cfg/autostart/kestrix.desktop";
    QTest::newRow("unset") << QByteArray() << ".config/autostart/kestrix.desktop";
    QTest::newRow("empty") << QByteArray("") << ".config/autostart/kestrix.desktop";
    QTest::newRow("relative is ignored")
        << QByteArray("cfg") << ".config/autostart/kestrix.desktop";
}

void TestAutostart::entryPath()
{
    QFETCH(QByteArray, xdgConfigHome);
    QFETCH(QString, expected);

    EnvGuard guard("XDG_CONFIG_HOME");
    if (xdgConfigHome.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", xdgConfigHome);

    if (!expected.startsWith(QLatin1Char('/')))
        expected = qEnvironmentVariable("HOME") + QLatin1Char('/') + expected;
    QCOMPARE(XdgAutostart::entryPath(), expected);
}

void TestAutostart::execValueReadsBackAsOnePath_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("exec"); // the exact text after "Exec="

    QTest::newRow("plain") << "/usr/bin/kestrix"
                           << R"("/usr/bin/kestrix" --minimized)";
    QTest::newRow("blanks") << "/opt/My Apps/kestrix"
                            << R"("/opt/My Apps/kestrix" --minimized)";
    QTest::newRow("double quote") << R"(/opt/a"b/kestrix)"
                                  << R"("/opt/a\\"b/kestrix" --minimized)";
    QTest::newRow("backtick") << "/opt/a`b/kestrix"
                              << R"("/opt/a\\`b/kestrix" --minimized)";
    QTest::newRow("dollar") << "/opt/$HOME/kestrix"
                            << R"("/opt/\\$HOME/kestrix" --minimized)";
    QTest::newRow("backslash") << R"(/opt/a\b/kestrix)"
                               << R"("/opt/a\\\\b/kestrix" --minimized)";
    QTest::newRow("percent") << "/opt/100%/kestrix"
                             << R"("/opt/100%%/kestrix" --minimized)";
    QTest::newRow("percent and letter") << "/opt/%u/kestrix"
                                        << R"("/opt/%%u/kestrix" --minimized)";
    QTest::newRow("line break") << "/opt/a\nb/kestrix"
                                << R"("/opt/a\nb/kestrix" --minimized)";
    QTest::newRow("tab") << "/opt/a\tb/kestrix"
                         << R"("/opt/a\tb/kestrix" --minimized)";
    QTest::newRow("shell characters") << "/opt/a;b&c|d(e)*?#~'<>/kestrix"
                                      << R"("/opt/a;b&c|d(e)*?#~'<>/kestrix" --minimized)";
    QTest::newRow("non-ASCII") << QStringLiteral(u"/home/пользователь/Программы/kestrix")
                               << QStringLiteral(
                                      u"\"/home/пользователь/Программы/kestrix\" --minimized");
}

void TestAutostart::execValueReadsBackAsOnePath()
{
    QFETCH(QString, executable);
    QFETCH(QString, exec);

    const QString value = XdgAutostart::execValue(executable);
    QCOMPARE(value, exec);
    QCOMPARE(DesktopEntry::execArguments(value),
             (QStringList{executable, QStringLiteral("--minimized")}));

    // The whole entry stays one line per key and reads back the same.
    const QByteArray contents = XdgAutostart::entryContents(executable);
    QCOMPARE(DesktopEntry::mainGroup(contents).value(QStringLiteral("Exec")), exec);
}

void TestAutostart::switchingOnWritesAnEntry()
{
    AppSettings settings;
    QVERIFY(!settings.autostart());
    SignalLog log(&settings);

    settings.setAutostart(true);

    QVERIFY(settings.autostart());
    QCOMPARE(log.emitted, QStringList{QStringLiteral("autostartChanged")});
    const QMap<QString, QString> keys = DesktopEntry::mainGroup(readFile(autostartEntryPath()));
    QCOMPARE(keys.value(QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(keys.value(QStringLiteral("Name")), QStringLiteral("Kestrix"));
    // Shown with the installed icon, and matched to the running window.
    QCOMPARE(keys.value(QStringLiteral("Icon")), QLatin1String(AppIdentity::kDesktopId));
    QCOMPARE(keys.value(QStringLiteral("StartupWMClass")), QStringLiteral("Kestrix"));
    QCOMPARE(entryCommand(autostartEntryPath()),
             (QStringList{QCoreApplication::applicationFilePath(), QStringLiteral("--minimized")}));
    // Written in one piece: no temporary file is left beside it.
    QCOMPARE(QFileInfo(autostartEntryPath()).dir().entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("kestrix.desktop")});
    // The preference is the entry itself; the settings store is not touched.
    QVERIFY(!QFile::exists(storePath()));
    QVERIFY(AppSettings().autostart());

    settings.setAutostart(false);
    QVERIFY(!settings.autostart());
    QCOMPARE(log.emitted.size(), 2);
    QVERIFY(!QFile::exists(autostartEntryPath()));
    QVERIFY(!QFile::exists(storePath()));
    QVERIFY(!AppSettings().autostart());
}

void TestAutostart::entryFromAnotherInstallIsKept()
{
    seedStore({{QStringLiteral("ui/whitelist"), true}});
    const QByteArray store = readFile(storePath());
    QVERIFY(writeFile(autostartEntryPath(), kOldInstallEntry));

    AppSettings settings;
    SignalLog log(&settings);
    QVERIFY(settings.autostart());

    settings.setAutostart(true);
    QCOMPARE(log.emitted, QStringList());
    QCOMPARE(readFile(autostartEntryPath()), kOldInstallEntry);

    settings.setAutostart(false);
    QVERIFY(!QFile::exists(autostartEntryPath()));

    settings.setAutostart(true);
    QCOMPARE(entryCommand(autostartEntryPath()),
             (QStringList{QCoreApplication::applicationFilePath(), QStringLiteral("--minimized")}));
    QCOMPARE(log.emitted.size(), 2);
    QCOMPARE(readFile(storePath()), store);
}

void TestAutostart::entryIsLookedAtOnlyAtStart_data()
{
    QTest::addColumn<bool>("presentAtStart");
    QTest::newRow("added while running") << false;
    QTest::newRow("removed while running") << true;
}

// Another program changing the entry while this one runs changes nothing until
// the next start, and the next call compares against what was seen at start.
void TestAutostart::entryIsLookedAtOnlyAtStart()
{
    QFETCH(bool, presentAtStart);

    if (presentAtStart)
        QVERIFY(writeFile(autostartEntryPath(), kOldInstallEntry));
    AppSettings settings;
    SignalLog log(&settings);
    if (presentAtStart)
        QVERIFY(QFile::remove(autostartEntryPath()));
    else
        QVERIFY(writeFile(autostartEntryPath(), kOldInstallEntry));

    QCOMPARE(settings.autostart(), presentAtStart);
    settings.setAutostart(presentAtStart);

    QCOMPARE(log.emitted, QStringList());
    QCOMPARE(QFile::exists(autostartEntryPath()), !presentAtStart);
}

void TestAutostart::entrySwitchedOffByTheDesktop_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("autostart");

    QTest::newRow("plain entry") << kOldInstallEntry << true;
    QTest::newRow("Hidden=true") << kOldInstallEntry + "Hidden=true\n" << false;
    QTest::newRow("Hidden = true") << kOldInstallEntry + "Hidden = true\n" << false;
    QTest::newRow("Hidden=false") << kOldInstallEntry + "Hidden=false\n" << true;
    QTest::newRow("GNOME switch off") << kOldInstallEntry + "X-GNOME-Autostart-enabled=false\n"
                                      << false;
    QTest::newRow("GNOME switch on") << kOldInstallEntry + "X-GNOME-Autostart-enabled=true\n"
                                     << true;
    QTest::newRow("Hidden in another group")
        << kOldInstallEntry + "[Desktop Action quit]\nHidden=true\n"
        << true;
    QTest::newRow("empty file") << QByteArray() << true;
}

// The session skips an entry switched off in the desktop's own settings, so
// the switch shows off, and switching it on replaces the entry with a live one.
void TestAutostart::entrySwitchedOffByTheDesktop()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, autostart);

    QVERIFY(writeFile(autostartEntryPath(), entry));
    AppSettings settings;
    QCOMPARE(settings.autostart(), autostart);

    settings.setAutostart(true);
    QVERIFY(AppSettings().autostart());
}

void TestAutostart::unwritableFolderIsSilent()
{
    // A file where the autostart folder should be: the entry cannot be written.
    QVERIFY(QDir(configHome() + QStringLiteral("/autostart")).removeRecursively());
    QVERIFY(writeFile(configHome() + QStringLiteral("/autostart"), "not a folder"));
    AppSettings settings;
    SignalLog log(&settings);

    settings.setAutostart(true);

    QVERIFY(settings.autostart());
    QCOMPARE(log.emitted, QStringList{QStringLiteral("autostartChanged")});
    QVERIFY(!AppSettings().autostart());
    QVERIFY(QFile::remove(configHome() + QStringLiteral("/autostart")));
}

// The real program, installed under a folder whose name needs every escape,
// writes an entry that names exactly that program.
void TestAutostart::pathWithSpecialCharactersStartsThatPath()
{
    QTemporaryDir install;
    QVERIFY(install.isValid());
    const QString folder = install.path() + QStringLiteral("/My Apps \"q\" $HOME `x` \\ 100%");
    QVERIFY(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/kestrix");
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));

    QProcess child;
    child.start(program, {QLatin1String(kEnableAutostart)});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);

    const QStringList command = entryCommand(autostartEntryPath());
    QCOMPARE(command, (QStringList{program, QStringLiteral("--minimized")}));
    QVERIFY(QFileInfo(command.first()).isExecutable());
}

void TestAutostart::entryPassesTheDesktopValidator_data()
{
    QTest::addColumn<QString>("executable");
    QTest::newRow("plain") << "/usr/bin/kestrix";
    QTest::newRow("every escape") << R"(/opt/My Apps "q" $HOME `x` \ 100%/kestrix)";
}

// The desktop's own validator reads the entry as the session will.
void TestAutostart::entryPassesTheDesktopValidator()
{
    QFETCH(QString, executable);
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed (tools/install-deps installs it)");

    QVERIFY(writeFile(autostartEntryPath(), XdgAutostart::entryContents(executable)));
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, {autostartEntryPath()});
    QVERIFY(validate.waitForFinished(30000));
    const QByteArray output = validate.readAll();
    QVERIFY2(validate.exitCode() == 0, output.constData());
    QVERIFY2(output.isEmpty(), output.constData()); // not even a hint
}

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], kEnableAutostart) == 0) {
        QCoreApplication app(argc, argv);
        AppSettings settings;
        settings.setAutostart(true);
        return settings.autostart() ? 0 : 1;
    }
    return runIsolated<TestAutostart>(argc, argv);
}

#include "tst_autostart.moc"
