#pragma once

#include "daemon/servicestate.h"

#include <QObject>
#include <QString>

#include <functional>

// Makes sure a daemon is there at start-up: when its service is neither
// running nor starting, starts the daemon executable beside the interface in
// foreground mode, detached and without a window. Also writes and starts the
// post-update relauncher. Silent on every failure.
class DaemonLauncher : public QObject
{
    Q_OBJECT

public:
    enum class Outcome
    {
        ServiceUp,    // running or starting: nothing started
        NoExecutable, // no daemon executable beside the interface
        Started,      // the executable was started
        StartFailed,  // the executable is there but could not be started
    };
    using ServiceQuery = std::function<ServiceState()>;

    explicit DaemonLauncher(QObject *parent = nullptr);

    // Returns at once: the service is asked, and the daemon started, on a
    // worker thread.
    void ensureDaemonRunning();
    // The same on this thread, telling what happened.
    Outcome launchIfNeeded();

    // Writes the relauncher script and starts it; returns without waiting.
    static void scheduleRelaunch();

    // The daemon executable's file name on this platform.
    static QString daemonExecutableName();

    // Where the daemon executable is looked for; the interface's own
    // directory unless set (tests point it elsewhere).
    void setDaemonDirectory(const QString &directory);
    // How the service is asked; the platform's service manager unless set.
    void setServiceQuery(ServiceQuery query);

private:
    QString daemonDirectory() const;

    QString m_daemonDirectory;
    ServiceQuery m_serviceQuery;
};
