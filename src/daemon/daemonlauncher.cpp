#include "daemon/daemonlauncher.h"

#include "daemon/relauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThreadPool>

#ifdef Q_OS_WIN
#include "daemon/win32process.h"
#include "daemon/win32service.h"
#else
#include "daemon/systemdservice.h"
#include "ipc/systemtools_unix.h"

#include <QProcess>
#endif

namespace {

ServiceState queryPlatformService()
{
#ifdef Q_OS_WIN
    return Win32::queryServiceState(Win32::kDaemonServiceName);
#else
    return Systemd::queryUnitState(QStringLiteral("kestrix.service"));
#endif
}

bool startDetached(const QString &executable)
{
#ifdef Q_OS_WIN
    return Win32::startDaemon(QDir::toNativeSeparators(executable).toStdWString());
#else
    // An argument list, never a shell line: the path reaches exec as it is.
    QProcess process;
    process.setProgram(executable);
    process.setArguments({QStringLiteral("--foreground")});
    // Whatever folder the interface was started from stays out of it.
    SystemTools::confine(process);
    // Like a detached process on Windows: no terminal of ours to write to.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
#endif
}

DaemonLauncher::Outcome launch(const QString &directory, const DaemonLauncher::ServiceQuery &query)
{
    const ServiceState state = query ? query() : queryPlatformService();
    if (daemonActionFor(state) == DaemonAction::StartNothing)
        return DaemonLauncher::Outcome::ServiceUp;

    const QString executable =
        directory + QLatin1Char('/') + DaemonLauncher::daemonExecutableName();
    if (!QFileInfo(executable).isFile())
        return DaemonLauncher::Outcome::NoExecutable;

    return startDetached(executable) ? DaemonLauncher::Outcome::Started
                                     : DaemonLauncher::Outcome::StartFailed;
}

} // namespace

DaemonLauncher::DaemonLauncher(QObject *parent) : QObject(parent) {}

void DaemonLauncher::ensureDaemonRunning()
{
    // Asking systemd means waiting for systemctl (up to its timeout): never
    // on the interface thread. The pipe client retries until the daemon is up.
    QThreadPool::globalInstance()->start(
        [directory = daemonDirectory(), query = m_serviceQuery] { launch(directory, query); });
}

DaemonLauncher::Outcome DaemonLauncher::launchIfNeeded()
{
    return launch(daemonDirectory(), m_serviceQuery);
}

void DaemonLauncher::scheduleRelaunch()
{
    Relauncher::schedule(Relauncher::Plan::forThisProcess());
}

QString DaemonLauncher::daemonExecutableName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("kestrix-daemon.exe");
#else
    return QStringLiteral("kestrix-daemon");
#endif
}

void DaemonLauncher::setDaemonDirectory(const QString &directory)
{
    m_daemonDirectory = directory;
}

void DaemonLauncher::setServiceQuery(ServiceQuery query)
{
    m_serviceQuery = std::move(query);
}

QString DaemonLauncher::daemonDirectory() const
{
    return m_daemonDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : m_daemonDirectory;
}
