#pragma once

#include <QByteArray>
#include <QString>

// The post-update relauncher: a script, left behind when the interface quits
// for an update, that waits for the installer to stop and restart the daemon
// service, starts the interface again with "--after-update", logs what it did
// to kestrix-relaunch.log and deletes itself.
namespace Relauncher {

// The programs the POSIX script runs, each by its full path. An empty one
// (not installed) makes its steps fail, never a search along PATH.
struct PosixTools
{
    QString shell;
    QString systemctl;
    QString rm;
    QString sleep;
    QString date;

    // Each found in /usr/bin or /bin; all empty on Windows.
    static PosixTools fromSystem();
};

struct Plan
{
    QString executable; // the interface to start again
    QString tempDir;    // where the scripts and the log go (empty: nothing is written)

    // Waits of the POSIX script; the defaults match the Windows script.
    int stopTries = 60;
    int stopPollMs = 1000;
    int startTries = 90;
    int startPollMs = 2000;
    int graceMs = 2000;

    PosixTools tools = PosixTools::fromSystem();

    // The running interface; the temporary folder on Windows, the user's
    // private runtime folder elsewhere.
    static Plan forThisProcess();
};

inline constexpr char kWindowsScriptName[] = "kestrix-relaunch.cmd";
inline constexpr char kPosixScriptName[] = "kestrix-relaunch.sh";
inline constexpr char kLogName[] = "kestrix-relaunch.log";

// The POSIX shell script doing the same with systemd's view of kestrix.service;
// without systemd or without that unit it waits only the grace period.
QByteArray posixScript(const Plan &plan);

// Writes the Windows script (RelaunchScript::windowsScript) into
// plan.tempDir, replacing any earlier one.
bool writeWindowsScript(const Plan &plan);

// Writes the script(s) and starts the one this platform runs, without waiting
// for it. False when nothing was started; a plan without a folder (no
// private one could be had) writes nothing at all.
bool schedule(const Plan &plan);

} // namespace Relauncher
