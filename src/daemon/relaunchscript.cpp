#include "daemon/relaunchscript.h"

namespace RelaunchScript {

const std::string &windowsScript()
{
    // Line 30 expands the variable when it runs, so the file stays ASCII
    // whatever the path holds; an expanded value is not expanded again, so a
    // "%" in the path needs no escaping either.
    static const std::string script =
        std::string("@echo off\r\n"
                    "rem Kestrix post-update relauncher (auto-generated, safe to delete)\r\n"
                    "set LOG=%TEMP%\\kestrix-relaunch.log\r\n"
                    "echo [%date% %time%] watchdog started> \"%LOG%\"\r\n"
                    "rem Phase 1: wait for the installer to stop the service (max ~60 s).\r\n"
                    "rem Poll every ~1 s: a silent install can stop+restart the service\r\n"
                    "rem in a few seconds, and a coarser poll misses the stop entirely,\r\n"
                    "rem stalling the relaunch until this phase times out.\r\n"
                    "set /a tries=0\r\n"
                    ":waitstop\r\n"
                    "sc query kestrix | find \"RUNNING\" >nul || goto waitstart\r\n"
                    "set /a tries+=1\r\n"
                    "if %tries% geq 60 goto up\r\n"
                    "ping -n 2 127.0.0.1 >nul\r\n"
                    "goto waitstop\r\n"
                    "rem Phase 2: wait for the installer to start it again (max ~3 min).\r\n"
                    ":waitstart\r\n"
                    "echo [%date% %time%] service stopped, waiting for restart>> \"%LOG%\"\r\n"
                    "set /a tries=0\r\n"
                    ":waitloop\r\n"
                    "sc query kestrix | find \"RUNNING\" >nul && goto up\r\n"
                    "set /a tries+=1\r\n"
                    "if %tries% geq 90 goto up\r\n"
                    "ping -n 3 127.0.0.1 >nul\r\n"
                    "goto waitloop\r\n"
                    ":up\r\n"
                    "rem Small grace period so the installer's [Run] page/file locks settle.\r\n"
                    "ping -n 3 127.0.0.1 >nul\r\n"
                    "echo [%date% %time%] launching UI>> \"%LOG%\"\r\n") +
        "start \"\" \"%" + kExecutableVariable + "%\" --after-update\r\n" +
        "echo [%date% %time%] start exit code %errorlevel%>> \"%LOG%\"\r\n"
        "del \"%~f0\"\r\n";
    return script;
}

} // namespace RelaunchScript
