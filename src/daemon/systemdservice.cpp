#include "daemon/systemdservice.h"

#include "ipc/systemtools_unix.h"

#include <QFileInfo>
#include <QProcess>

namespace Systemd {
namespace {

// Start-up waits for this at most; a healthy systemctl answers in milliseconds.
constexpr int kQueryTimeoutMs = 1500;

} // namespace

ServiceState stateFromShowOutput(const QByteArray &output)
{
    const QByteArray prefix = QByteArrayLiteral("ActiveState=");
    const QByteArray line = output.trimmed();
    if (!line.startsWith(prefix))
        return ServiceState::QueryFailed;
    const QByteArray state = line.mid(prefix.size());
    if (state == "active" || state == "reloading")
        return ServiceState::Running;
    if (state == "activating")
        return ServiceState::StartPending;
    if (state == "deactivating")
        return ServiceState::StopPending;
    if (state == "inactive" || state == "failed")
        return ServiceState::Stopped;
    return ServiceState::QueryFailed;
}

ServiceState queryUnitState(const QString &unit)
{
    // Without a running systemd there is nobody to ask; spare the process start.
    if (!QFileInfo(QStringLiteral("/run/systemd/system")).isDir())
        return ServiceState::QueryFailed;
    return askSystemctl(unit);
}

ServiceState askSystemctl(const QString &unit)
{
    const QString program = SystemTools::path(QStringLiteral("systemctl"));
    if (program.isEmpty())
        return ServiceState::QueryFailed;
    QProcess systemctl;
    SystemTools::confine(systemctl);
    systemctl.setProcessChannelMode(QProcess::SeparateChannels);
    systemctl.setStandardInputFile(QProcess::nullDevice());
    systemctl.setStandardErrorFile(QProcess::nullDevice());
    systemctl.start(program, {QStringLiteral("show"), QStringLiteral("--no-pager"),
                              QStringLiteral("--property=ActiveState"), unit});
    if (!systemctl.waitForFinished(kQueryTimeoutMs)) {
        systemctl.kill();
        systemctl.waitForFinished(kQueryTimeoutMs);
        return ServiceState::QueryFailed;
    }
    if (systemctl.exitStatus() != QProcess::NormalExit || systemctl.exitCode() != 0)
        return ServiceState::QueryFailed;
    return stateFromShowOutput(systemctl.readAllStandardOutput());
}

} // namespace Systemd
