#include "ipc/servicemainpid_unix.h"

#include "ipc/systemtools_unix.h"

#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <limits>
#include <memory>
#include <utility>

namespace ServiceMainPid {

qint64 fromShowOutput(const QByteArray &output)
{
    const QByteArray prefix = QByteArrayLiteral("MainPID=");
    const QByteArray line = output.trimmed();
    if (!line.startsWith(prefix))
        return 0;
    bool ok = false;
    const qint64 pid = line.mid(prefix.size()).toLongLong(&ok);
    return ok && pid > 0 && pid <= std::numeric_limits<int>::max() ? pid : 0;
}

QString systemctlPath()
{
    // Not from PATH: the answer decides whom the token goes to.
    return SystemTools::path(QStringLiteral("systemctl"));
}

void query(const QString &systemctlPath, const QString &unit, QObject *context,
           std::function<void(qint64 pid)> answer, int timeoutMs)
{
    auto *systemctl = new QProcess(context);
    auto *deadline = new QTimer(systemctl);
    auto done = std::make_shared<std::function<void(qint64)>>(std::move(answer));
    // Answers once, whichever comes first; the process is gone afterwards.
    // A context on its way out (its children, the process among them, go
    // last) hears nothing.
    auto finish = [systemctl, done, alive = QPointer<QObject>(context)](qint64 pid) {
        if (!*done || !alive)
            return;
        const auto reply = std::exchange(*done, nullptr);
        systemctl->disconnect();
        if (systemctl->state() != QProcess::NotRunning) {
            systemctl->kill();
            systemctl->waitForFinished(100);
        }
        systemctl->deleteLater();
        reply(pid);
    };
    QObject::connect(systemctl, &QProcess::finished, systemctl,
                     [systemctl, finish](int exitCode, QProcess::ExitStatus status) {
                         const bool ok = status == QProcess::NormalExit && exitCode == 0;
                         finish(ok ? fromShowOutput(systemctl->readAllStandardOutput().left(256))
                                   : 0);
                     });
    QObject::connect(systemctl, &QProcess::errorOccurred, systemctl,
                     [finish](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             finish(0);
                     });
    QObject::connect(deadline, &QTimer::timeout, systemctl, [finish] { finish(0); });
    // Gone before it answered: ended here rather than waited for by its destructor.
    QObject *asker = context;
    QObject::connect(asker, &QObject::destroyed, systemctl, [systemctl] {
        systemctl->disconnect();
        systemctl->kill();
        systemctl->waitForFinished(100);
    });
    deadline->setSingleShot(true);
    deadline->start(timeoutMs);
    SystemTools::confine(*systemctl);
    systemctl->setStandardInputFile(QProcess::nullDevice());
    systemctl->setStandardErrorFile(QProcess::nullDevice());
    if (systemctlPath.isEmpty()) {
        QTimer::singleShot(0, systemctl, [finish] { finish(0); });
        return;
    }
    systemctl->start(systemctlPath, {QStringLiteral("show"), QStringLiteral("--no-pager"),
                                     QStringLiteral("--property=MainPID"), unit});
}

} // namespace ServiceMainPid
