#include "daemon/relauncher.h"

#include "daemon/relaunchscript.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>

#ifdef Q_OS_WIN
#include "daemon/win32relaunch.h"
#else
#include "ipc/privateruntimedir_unix.h"
#include "ipc/systemtools_unix.h"

#include <QProcess>
#endif

namespace Relauncher {
namespace {

// The same steps for a POSIX shell. The @...@ fields are filled in once, the
// paths as single-quoted shell words.
constexpr char kPosixTemplate[] = R"sh(#!/bin/sh
# Kestrix post-update relauncher (auto-generated, safe to delete)
# Every tool by its full path, and nothing looked up in PATH or the working
# folder of whoever started the update.
PATH=@PATH@
export PATH
cd / || exit 1
exe=@EXE@
log=@LOG@
self=@SELF@

# A fresh log of our own, never written through a link left under its name.
@RM@ -f -- "$log" 2>/dev/null
if (set -C; : >"$log") 2>/dev/null; then logok=1; else logok=; fi
note() {
    [ -n "$logok" ] && printf '[%s] %s\n' "$(@DATE@ '+%Y-%m-%d %H:%M:%S')" "$1" >>"$log" 2>/dev/null
}
# systemd's view of the service.
state() {
    @SYSTEMCTL@ is-active kestrix.service 2>/dev/null
}
# Whether there is a service to wait for: systemd runs and has the unit. The
# daemon may as well run without one, beside the interface.
has_service() {
    [ "$(@SYSTEMCTL@ show --property=LoadState --value kestrix.service 2>/dev/null)" = loaded ]
}

note 'watchdog started'
if has_service; then
    # Phase 1: wait for the installer to stop the service.
    tries=0
    stopped=1
    while :; do
        case "$(state)" in
        active|reloading) ;;
        *) break ;;
        esac
        tries=$((tries + 1))
        if [ "$tries" -ge @STOP_TRIES@ ]; then stopped=; break; fi
        @SLEEP@ @STOP_POLL@
    done
    if [ -n "$stopped" ]; then
        note 'service stopped, waiting for restart'
        # Phase 2: wait for the installer to start it again.
        tries=0
        while :; do
            case "$(state)" in
            active|reloading) break ;;
            esac
            tries=$((tries + 1))
            [ "$tries" -ge @START_TRIES@ ] && break
            @SLEEP@ @START_POLL@
        done
    fi
else
    note 'no kestrix service to wait for'
fi
# Small grace period so the installer's file locks settle.
@SLEEP@ @GRACE@
note 'launching UI'
if [ -x "$exe" ]; then
    "$exe" --after-update </dev/null >/dev/null 2>&1 &
    code=0
else
    code=127
fi
note "start exit code $code"
@RM@ -f -- "$self"
)sh";

// Without a folder of its own the relauncher writes nothing: an empty
// folder must not turn the names into paths at the file system's root.
bool hasFolder(const Plan &plan)
{
    return !plan.tempDir.isEmpty() && QDir::isAbsolutePath(plan.tempDir);
}

QString scriptPath(const Plan &plan, const char *name)
{
    return plan.tempDir + QLatin1Char('/') + QLatin1String(name);
}

// Replaces the file at path with content. False when it could not be written
// completely.
bool replaceFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
#ifdef Q_OS_WIN
    // Binary on purpose: the lines carry their own CR LF.
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Truncate;
#else
    // Never write through a link or into a file left under this name.
    QFile::remove(path);
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::NewOnly;
#endif
    if (!file.open(mode))
        return false;
    const bool complete = file.write(content) == content.size();
    file.close();
    return complete && file.error() == QFileDevice::NoError;
}

// One shell word, whatever the text holds.
QByteArray shellQuoted(const QString &text)
{
    QByteArray bytes = QFile::encodeName(text);
    bytes.replace('\'', QByteArrayLiteral("'\\''"));
    return '\'' + bytes + '\'';
}

// A tool's full path as a shell word; "false" (built into the shell) for
// one that is missing, so its step fails without a search.
QByteArray toolWord(const QString &path)
{
    return path.isEmpty() ? QByteArrayLiteral("false") : shellQuoted(path);
}

QByteArray seconds(int ms)
{
    return QByteArray::number(qMax(0, ms) / 1000.0, 'g', 6);
}

} // namespace

PosixTools PosixTools::fromSystem()
{
    PosixTools tools;
#ifndef Q_OS_WIN
    tools.shell = SystemTools::path(QStringLiteral("sh"));
    tools.systemctl = SystemTools::path(QStringLiteral("systemctl"));
    tools.rm = SystemTools::path(QStringLiteral("rm"));
    tools.sleep = SystemTools::path(QStringLiteral("sleep"));
    tools.date = SystemTools::path(QStringLiteral("date"));
#endif
    return tools;
}

Plan Plan::forThisProcess()
{
    Plan plan;
    plan.executable = QCoreApplication::applicationFilePath();
#ifdef Q_OS_WIN
    plan.tempDir = QDir::tempPath();
#else
    // A shared temporary folder would let another user's file under one of
    // our names stop the relaunch.
    plan.tempDir = privateRuntimeDir();
#endif
    return plan;
}

QByteArray posixScript(const Plan &plan)
{
    const QHash<QByteArray, QByteArray> fields{
        {"EXE", shellQuoted(plan.executable)},
        {"LOG", shellQuoted(scriptPath(plan, kLogName))},
        {"SELF", shellQuoted(scriptPath(plan, kPosixScriptName))},
        {"STOP_TRIES", QByteArray::number(plan.stopTries)},
        {"STOP_POLL", seconds(plan.stopPollMs)},
        {"START_TRIES", QByteArray::number(plan.startTries)},
        {"START_POLL", seconds(plan.startPollMs)},
        {"GRACE", seconds(plan.graceMs)},
        {"PATH", QByteArray(SystemTools::kPath)},
        {"SYSTEMCTL", toolWord(plan.tools.systemctl)},
        {"RM", toolWord(plan.tools.rm)},
        {"SLEEP", toolWord(plan.tools.sleep)},
        {"DATE", toolWord(plan.tools.date)},
    };
    // One pass over the template, so that a path holding "@LOG@" stays as it is.
    const QByteArray text = kPosixTemplate;
    QByteArray script;
    qsizetype from = 0;
    while (true) {
        const qsizetype open = text.indexOf('@', from);
        const qsizetype close = open < 0 ? -1 : text.indexOf('@', open + 1);
        if (close < 0)
            break;
        const auto field = fields.constFind(text.mid(open + 1, close - open - 1));
        if (field == fields.constEnd()) {
            script += text.mid(from, close - from);
            from = close;
            continue;
        }
        script += text.mid(from, open - from) + *field;
        from = close + 1;
    }
    return script + text.mid(from);
}

bool writeWindowsScript(const Plan &plan)
{
    if (!hasFolder(plan))
        return false;
    return replaceFile(scriptPath(plan, kWindowsScriptName),
                       QByteArray::fromStdString(RelaunchScript::windowsScript()));
}

bool schedule(const Plan &plan)
{
    if (!hasFolder(plan))
        return false;
#ifdef Q_OS_WIN
    return Win32::scheduleRelaunch(
        QDir::toNativeSeparators(scriptPath(plan, kWindowsScriptName)).toStdWString(),
        QDir::toNativeSeparators(plan.executable).toStdWString());
#else
    // Produced here too, for anyone who carries it to Windows; this platform
    // runs the shell script instead.
    writeWindowsScript(plan);

    if (plan.tools.shell.isEmpty())
        return false;
    const QString script = scriptPath(plan, kPosixScriptName);
    if (!replaceFile(script, posixScript(plan)))
        return false;
    // Detached into a session of its own, so the interface's exit does not take it along.
    QProcess shell;
    shell.setProgram(plan.tools.shell);
    shell.setArguments({script});
    SystemTools::confine(shell);
    shell.setStandardInputFile(QProcess::nullDevice());
    shell.setStandardOutputFile(QProcess::nullDevice());
    shell.setStandardErrorFile(QProcess::nullDevice());
    return shell.startDetached();
#endif
}

} // namespace Relauncher
