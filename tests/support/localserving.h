#pragma once

#include <QLocalSocket>
#include <QProcess>
#include <QString>
#include <QtTest>

// Waits until the process serves the local socket; false if it exits first
// or the time runs out.
inline bool waitUntilServing(const QProcess &process, const QString &socket, int timeoutMs)
{
    return QTest::qWaitFor(
               [&] {
                   if (process.state() == QProcess::NotRunning)
                       return true;
                   QLocalSocket probe;
                   probe.connectToServer(socket);
                   return probe.waitForConnected(100);
               },
               timeoutMs) &&
           process.state() == QProcess::Running;
}
