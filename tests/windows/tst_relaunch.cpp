// The relaunch script, written and started by our code, run by the prefix's
// cmd.exe against the test service, bringing back a stand-in interface from
// a folder whose name cmd.exe could not read from a batch file.

#include "daemon/win32relaunch.h"
#include "servicecontrol.h"
#include "winsupport.h"

#include <gtest/gtest.h>

#include <shellapi.h>

namespace {

using namespace WinTest;

const char kStarted[] = "watchdog started";
const char kStopped[] = "service stopped, waiting for restart";
const char kLaunching[] = "launching UI";
const char kExitZero[] = "start exit code 0";

// The entries of the script's log without their time stamps; each must
// carry one ("[<date> <time>] ").
std::vector<std::string> logEntries(const std::wstring &log)
{
    std::vector<std::string> entries;
    for (const std::string &line : lines(readFile(log))) {
        const size_t close = line.find("] ");
        const bool stamped = line.size() > 2 && line[0] == '[' && close != std::string::npos &&
                             line.find(' ') < close;
        entries.push_back(stamped ? line.substr(close + 2) : "malformed: " + line);
    }
    return entries;
}

bool logHas(const std::wstring &log, const std::string &entry)
{
    const std::vector<std::string> entries = logEntries(log);
    return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

size_t countLines(const std::wstring &path, const std::string &text)
{
    const std::vector<std::string> all = lines(readFile(path));
    return size_t(std::count(all.begin(), all.end(), text));
}

std::vector<std::wstring> splitCommandLine(const std::wstring &commandLine)
{
    std::vector<std::wstring> arguments;
    int count = 0;
    wchar_t **list = CommandLineToArgvW(commandLine.c_str(), &count);
    for (int i = 0; list && i < count; ++i)
        arguments.emplace_back(list[i]);
    LocalFree(list);
    return arguments;
}

// The system folder, where the relaunch script's interpreter starts.
std::wstring systemFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length < MAX_PATH ? length : 0);
}

// The folders and files of one relaunch, and the environment the interface
// would hand down: its temporary folder, and a %SystemRoot% whose System32
// holds the tools the script calls by their full path: Wine's own find,
// a stand-in for sc (Wine's cannot "query"), and for ping either Wine's
// own (which really waits) or a stand-in that returns at once, so that a
// minute of one-second polls runs in moments without a byte of the script
// changed.
class RelaunchScene
{
public:
    RelaunchScene(const std::string &name, const std::wstring &appFolder,
                  const std::wstring &tempFolder, bool quickPing)
        : root(scratchPath(L"relaunch-" + widen(name))), temp(joined(root, tempFolder)),
          app(joined(root, appFolder)), systemRoot(joined(root, L"windows")),
          tools(joined(systemRoot, L"System32")), standIn(joined(app, L"kestrix.exe")),
          script(joined(temp, L"kestrix-relaunch.cmd")), log(joined(temp, L"kestrix-relaunch.log")),
          polls(joined(root, L"sc-queries.txt")), pings(joined(root, L"pings.txt")),
          report(standIn + L".report"), m_root(root), m_temp(temp), m_app(app), m_tools(tools),
          m_systemRoot(L"SystemRoot", systemRoot), m_tempVariable(L"TEMP", temp),
          m_tmpVariable(L"TMP", temp), m_pollLog(L"KESTRIX_TEST_SC_LOG", polls),
          m_pingLog(L"KESTRIX_TEST_PING_LOG", pings)
    {
        const std::wstring ping = quickPing ? joined(programFolder(), L"quick-ping\\ping.exe")
                                            : joined(systemFolder(), L"ping.exe");
        m_valid = m_root.valid() && m_temp.valid() && m_app.valid() && m_tools.valid() &&
                  copied(joined(programFolder(), L"kestrix-standin-gui.exe"), standIn) &&
                  copied(joined(programFolder(), L"sc-query\\sc.exe"), joined(tools, L"sc.exe")) &&
                  copied(joined(systemFolder(), L"find.exe"), joined(tools, L"find.exe")) &&
                  copied(ping, joined(tools, L"ping.exe"));
    }

    bool valid() const { return m_valid; }

    const std::wstring root, temp, app, systemRoot, tools, standIn, script, log, polls, pings,
        report;

private:
    static bool copied(const std::wstring &from, const std::wstring &to)
    {
        return CopyFileW(from.c_str(), to.c_str(), FALSE);
    }

    ScratchFolder m_root, m_temp, m_app, m_tools;
    ScopedEnvironment m_systemRoot, m_tempVariable, m_tmpVariable, m_pollLog, m_pingLog;
    bool m_valid = false;
};

// After the script has started the interface and gone: the log, the
// interface's command line, the script file.
void expectRelaunched(const RelaunchScene &scene, const std::vector<std::string> &entries)
{
    ASSERT_TRUE(waitUntil([&] { return fileExists(scene.report); }, 60000))
        << "the interface was not started; log:\n"
        << readFile(scene.log) << "service queries:\n"
        << readFile(scene.polls);
    EXPECT_TRUE(waitUntil([&] { return !fileExists(scene.script); }))
        << "the script did not delete itself";
    EXPECT_EQ(logEntries(scene.log), entries) << "service queries:\n" << readFile(scene.polls);

    const std::vector<std::string> reported = lines(readFile(scene.report));
    ASSERT_EQ(reported.size(), 5u);
    const std::string prefix = "command line: ";
    ASSERT_EQ(reported[0].substr(0, prefix.size()), prefix);
    EXPECT_EQ(splitCommandLine(widen(reported[0].substr(prefix.size()))),
              (std::vector<std::wstring>{scene.standIn, L"--after-update"}));
    EXPECT_EQ(reported[3], "outlived its starter: yes");
    // The interpreter's, handed down: the system folder, not the interface's.
    EXPECT_EQ(reported[4], "current folder: " + narrow(systemFolder()));
}

class ServiceFixture
{
protected:
    void stopService() { ASSERT_TRUE(ServiceControl::stopAndWait()); }
    void startService()
    {
        ASSERT_TRUE(ServiceControl::start());
        ASSERT_TRUE(ServiceControl::waitForState(SERVICE_RUNNING));
    }
};

// ---- The script end to end, in folders of every kind -----------------------

struct FolderCase
{
    const char *name;
    const wchar_t *app;
    const wchar_t *temp;
};

class Relaunch : public testing::TestWithParam<FolderCase>, protected ServiceFixture
{
protected:
    void SetUp() override { stopService(); }
    void TearDown() override { stopService(); }
};

// The installer's usual course, seen from the script's second phase: the
// service is down when the script starts and comes back.
TEST_P(Relaunch, StartsTheInterfaceLogsAndDeletesItself)
{
    const FolderCase &c = GetParam();
    RelaunchScene scene(c.name, c.app, c.temp, false);
    ASSERT_TRUE(scene.valid());

    ASSERT_TRUE(Win32::scheduleRelaunch(scene.script, scene.standIn));

    ASSERT_TRUE(waitUntil([&] { return logHas(scene.log, kStopped); })) << "log:\n"
                                                                        << readFile(scene.log);
    startService();
    expectRelaunched(scene, {kStarted, kStopped, kLaunching, kExitZero});
}

INSTANTIATE_TEST_SUITE_P(
    Folders, Relaunch,
    testing::Values(
        // cmd.exe reads a batch file in the console's code page. (No blank in
        // the temporary folders: Wine's cmd.exe runs a pipe through a file
        // there and loses it when the folder's name has one.)
        FolderCase{"cyrillic",
                   L"\u041f\u0451\u0442\u0440 \u0418\u0432\u0430\u043d\u043e\u0432\\Kestrix",
                   L"Temp-\u041f\u0451\u0442\u0440"},
        // Each would end or split a command line, or expand, if written there.
        FolderCase{"quotes_breakers", L"Jo (Work) & Co ^!;,=\\Kestrix", L"Temp(x86)"}),
    [](const testing::TestParamInfo<FolderCase> &info) { return std::string(info.param.name); });

// ---- Commands planted where cmd.exe looks for a bare name ------------------

// This process's current folder for the life of the object: the one the
// interface would have when started from anyone's folder.
class ScopedCurrentFolder
{
public:
    explicit ScopedCurrentFolder(const std::wstring &folder)
    {
        m_old.resize(32768);
        m_old.resize(GetCurrentDirectoryW(DWORD(m_old.size()), m_old.data()));
        m_valid = SetCurrentDirectoryW(folder.c_str());
    }
    ~ScopedCurrentFolder() { SetCurrentDirectoryW(m_old.c_str()); }
    ScopedCurrentFolder(const ScopedCurrentFolder &) = delete;
    ScopedCurrentFolder &operator=(const ScopedCurrentFolder &) = delete;
    bool valid() const { return m_valid; }

private:
    std::wstring m_old;
    bool m_valid = false;
};

struct PlantCase
{
    const char *name;
    const wchar_t *temp;
};

class RelaunchAmongPlants : public testing::TestWithParam<PlantCase>, protected ServiceFixture
{
protected:
    void SetUp() override { stopService(); }
    void TearDown() override { stopService(); }
};

// Batch files named like the script's tools, and one named "planted", in
// the interface's current folder and on PATH: each notes that it ran. None
// may: the tools are called by their full path from the system folder, the
// interpreter starts there, and a "&" in %TEMP% ends no command.
TEST_P(RelaunchAmongPlants, RunsNoneOfThem)
{
    const PlantCase &c = GetParam();
    RelaunchScene scene(c.name, L"Kestrix", c.temp, true);
    ASSERT_TRUE(scene.valid());
    ScratchFolder plants(joined(scene.root, L"Downloads"));
    ASSERT_TRUE(plants.valid());
    const std::wstring marker = joined(scene.root, L"planted-ran.txt");
    for (const wchar_t *name : {L"sc.bat", L"find.bat", L"ping.bat", L"planted.bat"}) {
        ASSERT_TRUE(
            writeFileAtomically(joined(plants.path(), name),
                                "@echo " + narrow(name) + ">> \"" + narrow(marker) + "\"\r\n"));
    }
    ScopedEnvironment path(L"PATH", plants.path() + L";" + environmentVariable(L"PATH"));
    ScopedCurrentFolder here(plants.path());
    ASSERT_TRUE(here.valid());

    ASSERT_TRUE(Win32::scheduleRelaunch(scene.script, scene.standIn));

    const bool stopLogged = waitUntil([&] { return logHas(scene.log, kStopped); });
    EXPECT_FALSE(fileExists(marker)) << "planted commands ran:\n" << readFile(marker);
    ASSERT_TRUE(stopLogged) << "log:\n" << readFile(scene.log);
    startService();
    expectRelaunched(scene, {kStarted, kStopped, kLaunching, kExitZero});
    EXPECT_FALSE(fileExists(marker)) << "planted commands ran:\n" << readFile(marker);
}

INSTANTIATE_TEST_SUITE_P(Plants, RelaunchAmongPlants,
                         testing::Values(PlantCase{"tools_in_current_folder", L"Temp"},
                                         // Unquoted, "set LOG=%TEMP%\..." would run "planted".
                                         PlantCase{"ampersand_in_temp", L"Temp&planted&x"}),
                         [](const testing::TestParamInfo<PlantCase> &info) {
                             return std::string(info.param.name);
                         });

// ---- The waits on the service ----------------------------------------------

// Whether this cmd.exe runs the command after && and || by the exit status,
// as the script's two polls rely on. Wine 8's runs it in every case.
bool conditionalsFollowExitStatus()
{
    ScratchFolder folder(scratchPath(L"cmd-probe"));
    const std::wstring probe = joined(folder.path(), L"probe.cmd");
    writeFileAtomically(probe, "@echo off\r\n"
                               "ver | find \"no such text\" >nul && exit /b 3\r\n"
                               "ver | find \"Windows\" >nul || exit /b 4\r\n"
                               "exit /b 0\r\n");
    return runProcess(L"cmd.exe /c \"\"" + probe + L"\"\"", CREATE_NO_WINDOW) == 0;
}

struct WaitCase
{
    const char *name;
    int stopAfterPolls;    // running polls seen before the test stops it; 0: never
    int restartAfterPolls; // stopped polls seen before the test starts it again; 0: never
    bool quickPing;
    std::vector<std::string> entries;
    size_t polls;                   // sc queries in all; 0: not counted
    std::vector<std::string> pings; // empty: not checked
};

class RelaunchWaits : public testing::TestWithParam<WaitCase>, protected ServiceFixture
{
protected:
    void SetUp() override
    {
        if (!conditionalsFollowExitStatus())
            GTEST_SKIP() << "this cmd.exe runs the command after && and || whatever the exit "
                            "status (Wine 8 does), so the script's polls cannot wait here";
        stopService();
        startService();
    }
    void TearDown() override { stopService(); }
};

TEST_P(RelaunchWaits, FollowTheService)
{
    const WaitCase &c = GetParam();
    RelaunchScene scene(c.name, L"\u041f\u0451\u0442\u0440\\Kestrix", L"Temp", c.quickPing);
    ASSERT_TRUE(scene.valid());

    ASSERT_TRUE(Win32::scheduleRelaunch(scene.script, scene.standIn));

    if (c.stopAfterPolls) {
        ASSERT_TRUE(waitUntil([&] {
            return countLines(scene.polls, "query kestrix RUNNING") >= size_t(c.stopAfterPolls);
        }));
        EXPECT_EQ(logEntries(scene.log), std::vector<std::string>{kStarted});
        ASSERT_TRUE(ServiceControl::requestStop());
    }
    if (c.restartAfterPolls) {
        ASSERT_TRUE(waitUntil([&] {
            return countLines(scene.polls, "query kestrix STOPPED") >= size_t(c.restartAfterPolls);
        }));
        EXPECT_EQ(logEntries(scene.log), (std::vector<std::string>{kStarted, kStopped}));
        EXPECT_FALSE(fileExists(scene.report)) << "started before the service came back";
        startService();
    }

    expectRelaunched(scene, c.entries);
    if (c.polls) {
        EXPECT_EQ(lines(readFile(scene.polls)).size(), c.polls);
    }
    if (!c.pings.empty()) {
        EXPECT_EQ(lines(readFile(scene.pings)), c.pings);
    }
}

std::vector<std::string> neverStoppedPings()
{
    std::vector<std::string> pings(59, "-n 2 127.0.0.1"); // phase 1 gives up at its 60th poll
    pings.push_back("-n 3 127.0.0.1");                    // the grace period
    return pings;
}

INSTANTIATE_TEST_SUITE_P(
    Services, RelaunchWaits,
    testing::Values(
        // The second stopped poll comes after the script has logged the stop.
        WaitCase{"stopped_and_restarted_while_waiting",
                 2,
                 2,
                 false,
                 {kStarted, kStopped, kLaunching, kExitZero},
                 0,
                 {}},
        WaitCase{
            "never_stops", 0, 0, true, {kStarted, kLaunching, kExitZero}, 60, neverStoppedPings()}),
    [](const testing::TestParamInfo<WaitCase> &info) { return std::string(info.param.name); });

} // namespace
