// The daemon start: the exact command line and flags on a stand-in daemon
// that reports what it got, started from a process that ends at once.

#include "winsupport.h"

#include <gtest/gtest.h>

namespace {

using namespace WinTest;

struct FolderCase
{
    const char *name;
    const wchar_t *folder;
};

class DaemonStart : public testing::TestWithParam<FolderCase>
{
};

TEST_P(DaemonStart, DetachedWithForegroundOnly)
{
    ScratchFolder folder(scratchPath(GetParam().folder));
    ASSERT_TRUE(folder.valid());
    const std::wstring daemon = joined(folder.path(), L"kestrix-daemon.exe");
    ASSERT_TRUE(
        CopyFileW(joined(programFolder(), L"kestrix-standin.exe").c_str(), daemon.c_str(), FALSE));

    // The starter has a console of its own (hidden): a daemon that kept it
    // would show up as attached.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const long started =
        runProcess(quoted(self) + L" --start-daemon " + quoted(daemon), CREATE_NO_WINDOW);
    ASSERT_EQ(started, 0);

    const std::wstring report = daemon + L".report";
    ASSERT_TRUE(waitUntil([&] { return fileExists(report); })) << "the daemon never started";
    const std::vector<std::string> lines = WinTest::lines(readFile(report));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "command line: \"" + narrow(daemon) + "\" --foreground");
    EXPECT_EQ(lines[1], "console: none");
    EXPECT_EQ(lines[2], "console window: none");
    EXPECT_EQ(lines[3], "outlived its starter: yes");
}

INSTANTIATE_TEST_SUITE_P(
    Folders, DaemonStart,
    testing::Values(FolderCase{"plain", L"daemon\\Kestrix"},
                    FolderCase{"spaces_and_parentheses", L"daemon\\Program Files (x86)\\Kestrix"},
                    FolderCase{"cyrillic_and_ampersand",
                               L"daemon\\\u041f\u0451\u0442\u0440 & Co\\Kestrix"}),
    [](const testing::TestParamInfo<FolderCase> &info) { return std::string(info.param.name); });

} // namespace
