#include "daemon/relaunchscript.h"

#include <initializer_list>

namespace RelaunchScript {
namespace {

// A tool of the system folder by its full path, quoted: a bare name is looked
// for in the current folder, then along PATH, before the system folder.
std::string systemTool(const char *name)
{
    return std::string("\"%SystemRoot%\\System32\\") + name + '"';
}

std::string withCrLf(std::initializer_list<std::string> lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line + "\r\n";
    return text;
}

} // namespace

const std::string &windowsScript()
{
    const std::string sc = systemTool("sc.exe");
    const std::string find = systemTool("find.exe");
    const std::string ping = systemTool("ping.exe");
    // Line 3 quotes the whole assignment: a "&" in %TEMP% must not end the
    // command. Line 30 expands the variable when it runs, so the file stays
    // ASCII whatever the path holds; an expanded value is not expanded again,
    // so a "%" in the path needs no escaping either.
    static const std::string script = withCrLf({
        "@echo off",
        "rem Kestrix post-update relauncher (auto-generated, safe to delete)",
        "set \"LOG=%TEMP%\\kestrix-relaunch.log\"",
        "echo [%date% %time%] watchdog started> \"%LOG%\"",
        "rem Phase 1: wait for the installer to stop the service (max ~60 s).",
        "rem Poll every ~1 s: a silent install can stop+restart the service",
        "rem in a few seconds, and a coarser poll misses the stop entirely,",
        "rem stalling the relaunch until this phase times out.",
        "set /a tries=0",
        ":waitstop",
        sc + " query kestrix | " + find + " \"RUNNING\" >nul || goto waitstart",
        "set /a tries+=1",
        "if %tries% geq 60 goto up",
        ping + " -n 2 127.0.0.1 >nul",
        "goto waitstop",
        "rem Phase 2: wait for the installer to start it again (max ~3 min).",
        ":waitstart",
        "echo [%date% %time%] service stopped, waiting for restart>> \"%LOG%\"",
        "set /a tries=0",
        ":waitloop",
        sc + " query kestrix | " + find + " \"RUNNING\" >nul && goto up",
        "set /a tries+=1",
        "if %tries% geq 90 goto up",
        ping + " -n 3 127.0.0.1 >nul",
        "goto waitloop",
        ":up",
        "rem Small grace period so the installer's [Run] page/file locks settle.",
        ping + " -n 3 127.0.0.1 >nul",
        "echo [%date% %time%] launching UI>> \"%LOG%\"",
        std::string("start \"\" \"%") + kExecutableVariable + "%\" --after-update",
        "echo [%date% %time%] start exit code %errorlevel%>> \"%LOG%\"",
        "del \"%~f0\"",
    });
    return script;
}

} // namespace RelaunchScript
