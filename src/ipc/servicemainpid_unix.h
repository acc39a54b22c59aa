#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

namespace ServiceMainPid {

// The process id in the answer of `systemctl show --property=MainPID <unit>`;
// 0 when the unit runs no process or the answer is not one.
qint64 fromShowOutput(const QByteArray &output);

// Asks systemctl (the program at systemctlPath) for the main process of the
// unit without waiting for it: answer runs later on this thread with the id,
// or 0 when there is none, systemctl fails or takes longer than timeoutMs.
// Nothing runs once context is gone.
void query(const QString &systemctlPath, const QString &unit, QObject *context,
           std::function<void(qint64 pid)> answer, int timeoutMs = 1500);

// The system's systemctl, looked for only where the system keeps it; empty
// when there is none.
QString systemctlPath();

} // namespace ServiceMainPid
