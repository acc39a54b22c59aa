// The Qt-free Windows units on their own: the texts they build.

#include "app/win32session.h"
#include "daemon/commandlines.h"
#include "daemon/relaunchscript.h"
#include "daemon/win32process.h"
#include "ipc/win32pipe.h"
#include "winsupport.h"

#include <gtest/gtest.h>

namespace {

// ---- The relaunch script -------------------------------------------------

TEST(RelaunchScriptText, AsciiLinesEndingInCrLf)
{
    const std::string &script = RelaunchScript::windowsScript();
    for (const char byte : script)
        ASSERT_TRUE(byte > 0 && byte < 0x7f) << "non-ASCII byte " << int(byte);
    const std::vector<std::string> lines = WinTest::lines(script);
    ASSERT_EQ(lines.size(), 32u);
    size_t crlf = 0;
    for (size_t at = script.find("\r\n"); at != std::string::npos; at = script.find("\r\n", at + 2))
        ++crlf;
    EXPECT_EQ(crlf, 32u);
    EXPECT_EQ(std::count(script.begin(), script.end(), '\n'), 32);
    EXPECT_EQ(script.substr(script.size() - 2), "\r\n");
}

struct ScriptLine
{
    size_t number; // 1-based
    const char *text;
};

class RelaunchScriptLine : public testing::TestWithParam<ScriptLine>
{
};

TEST_P(RelaunchScriptLine, IsAsWritten)
{
    const std::vector<std::string> lines = WinTest::lines(RelaunchScript::windowsScript());
    ASSERT_GE(lines.size(), GetParam().number);
    EXPECT_EQ(lines[GetParam().number - 1], GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RelaunchScriptLine,
    testing::Values(ScriptLine{1, "@echo off"},
                    // Quoted whole: a "&" in %TEMP% ends no command.
                    ScriptLine{3, "set \"LOG=%TEMP%\\kestrix-relaunch.log\""},
                    // The tools by their full path, never looked for elsewhere.
                    ScriptLine{11, "\"%SystemRoot%\\System32\\sc.exe\" query kestrix | "
                                   "\"%SystemRoot%\\System32\\find.exe\" \"RUNNING\" >nul || "
                                   "goto waitstart"},
                    ScriptLine{13, "if %tries% geq 60 goto up"},
                    ScriptLine{14, "\"%SystemRoot%\\System32\\ping.exe\" -n 2 127.0.0.1 >nul"},
                    ScriptLine{21, "\"%SystemRoot%\\System32\\sc.exe\" query kestrix | "
                                   "\"%SystemRoot%\\System32\\find.exe\" \"RUNNING\" >nul && "
                                   "goto up"},
                    ScriptLine{23, "if %tries% geq 90 goto up"},
                    ScriptLine{24, "\"%SystemRoot%\\System32\\ping.exe\" -n 3 127.0.0.1 >nul"},
                    ScriptLine{28, "\"%SystemRoot%\\System32\\ping.exe\" -n 3 127.0.0.1 >nul"},
                    // The path comes from the environment of the interpreter.
                    ScriptLine{30, "start \"\" \"%KESTRIX_EXE%\" --after-update"},
                    ScriptLine{32, "del \"%~f0\""}));

// ---- Command lines -------------------------------------------------------

struct CommandLineCase
{
    const wchar_t *path;
    const wchar_t *daemon;
    const wchar_t *relaunch;
};

class CommandLinesFor : public testing::TestWithParam<CommandLineCase>
{
};

TEST_P(CommandLinesFor, QuotePathsWhole)
{
    EXPECT_EQ(CommandLines::daemon(GetParam().path), GetParam().daemon);
    EXPECT_EQ(CommandLines::relaunch(GetParam().path), GetParam().relaunch);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, CommandLinesFor,
    testing::Values(
        CommandLineCase{L"C:\\Program Files\\Kestrix\\kestrix-daemon.exe",
                        L"\"C:\\Program Files\\Kestrix\\kestrix-daemon.exe\" --foreground",
                        L"cmd.exe /c \"\"C:\\Program Files\\Kestrix\\kestrix-daemon.exe\"\""},
        CommandLineCase{
            L"C:\\Users\\\u041f\u0451\u0442\u0440 (Work) & Co\\x.cmd",
            L"\"C:\\Users\\\u041f\u0451\u0442\u0440 (Work) & Co\\x.cmd\" --foreground",
            L"cmd.exe /c \"\"C:\\Users\\\u041f\u0451\u0442\u0440 (Work) & Co\\x.cmd\"\""}));

// ---- The environment handed to the relaunch script -----------------------

std::wstring block(std::initializer_list<const wchar_t *> entries)
{
    std::wstring text;
    for (const wchar_t *entry : entries) {
        text += entry;
        text += L'\0';
    }
    return text + L'\0';
}

struct EnvironmentCase
{
    const char *name;
    std::wstring before;
    std::wstring after;
};

class EnvironmentBlock : public testing::TestWithParam<EnvironmentCase>
{
};

TEST_P(EnvironmentBlock, CarriesTheVariableOnce)
{
    const Win32::EnvironmentEntry extra{L"KESTRIX_EXE", L"C:\\\u041f\u0451\u0442\u0440\\k.exe"};
    EXPECT_EQ(Win32::environmentBlockWith(GetParam().before.c_str(), extra), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnvironmentBlock,
    testing::Values(
        EnvironmentCase{
            "added in name order",
            block({L"=C:=C:\\x", L"ALLUSERSPROFILE=C:\\p", L"Path=C:\\w", L"TEMP=C:\\t"}),
            block({L"=C:=C:\\x", L"ALLUSERSPROFILE=C:\\p",
                   L"KESTRIX_EXE=C:\\\u041f\u0451\u0442\u0440\\k.exe", L"Path=C:\\w",
                   L"TEMP=C:\\t"})},
        EnvironmentCase{
            "an inherited value of any case replaced",
            block({L"A=1", L"kestrix_exe=C:\\evil.exe", L"Z=2"}),
            block({L"A=1", L"KESTRIX_EXE=C:\\\u041f\u0451\u0442\u0440\\k.exe", L"Z=2"})},
        EnvironmentCase{
            "a longer name kept", block({L"KESTRIX_EXE_OLD=1"}),
            block({L"KESTRIX_EXE=C:\\\u041f\u0451\u0442\u0440\\k.exe", L"KESTRIX_EXE_OLD=1"})},
        EnvironmentCase{"empty environment", block({}),
                        block({L"KESTRIX_EXE=C:\\\u041f\u0451\u0442\u0440\\k.exe"})}),
    [](const testing::TestParamInfo<EnvironmentCase> &info) {
        std::string name = info.param.name;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

// ---- Who may own the daemon's pipe -------------------------------------

struct OwnerCase
{
    const char *name;
    const char *owner;
    const char *serverUser;        // "" when it could not be read
    unsigned long serverProcessId; // the service's is 40
    bool systemTrusted;
    bool trusted;
};

class PipeOwner : public testing::TestWithParam<OwnerCase>
{
};

TEST_P(PipeOwner, IsTrustedOnlyWhenNoStrangerCouldHaveMadeIt)
{
    const OwnerCase &c = GetParam();
    TrustPolicy policy;
    policy.ownUser = "S-1-5-21-1-2-3-1000";
    policy.systemUser = c.systemTrusted ? "S-1-5-18" : "";
    policy.serviceProcessId = 40;
    PeerIdentity server;
    server.known = true;
    server.user = c.serverUser;
    server.processId = c.serverProcessId;
    EXPECT_EQ(Win32::isTrustedPipeOwner(c.owner, server, policy), c.trusted);
}

INSTANTIATE_TEST_SUITE_P(
    Owners, PipeOwner,
    testing::Values(
        OwnerCase{"the_system", "S-1-5-18", "", 40, true, true},
        OwnerCase{"the_administrators", "S-1-5-32-544", "", 40, true, true},
        OwnerCase{"the_administrators_without_the_system", "S-1-5-32-544", "", 40, false, false},
        OwnerCase{"this_user", "S-1-5-21-1-2-3-1000", "S-1-5-21-1-2-3-1000", 77, true, true},
        OwnerCase{"unknown", "", "", 40, true, false},
        OwnerCase{"another_user", "S-1-5-21-1-2-3-1001", "S-1-5-21-1-2-3-1000", 77, true, false},
        OwnerCase{"the_users_group", "S-1-5-32-545", "S-1-5-21-1-2-3-1000", 77, true, false},
        // A service under an account of its own owns its pipe itself.
        OwnerCase{"the_service_account_serving", "S-1-5-80-1-2", "S-1-5-80-1-2", 40, true, true},
        OwnerCase{"the_service_account_but_another_server", "S-1-5-80-1-2", "S-1-5-80-1-2", 77,
                  true, false},
        // The service's process id now names a process of another user than
        // the pipe's creator: the creator has gone, its id reused.
        OwnerCase{"a_stranger_where_the_service_serves", "S-1-5-21-1-2-3-1001", "", 40, true,
                  false},
        OwnerCase{"a_stranger_beside_the_service", "S-1-5-21-1-2-3-1001", "S-1-5-80-1-2", 40, true,
                  false}),
    [](const testing::TestParamInfo<OwnerCase> &info) { return std::string(info.param.name); });

// ---- The single-instance name --------------------------------------------

struct SessionCase
{
    unsigned long session;
    const wchar_t *name;
};

class SingleInstanceNameFor : public testing::TestWithParam<SessionCase>
{
};

TEST_P(SingleInstanceNameFor, EndsInTheSession)
{
    EXPECT_EQ(Win32::singleInstanceNameForSession(GetParam().session), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, SingleInstanceNameFor,
    testing::Values(SessionCase{0, L"kestrix-ui-single-0"}, SessionCase{1, L"kestrix-ui-single-1"},
                    SessionCase{4294967295ul, L"kestrix-ui-single-4294967295"}));

} // namespace
