#pragma once

#include "localserving.h"
#include "pipepeer.h"

#include "ipc/linereader.h"
#include "ipc/protocol.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <QUrl>

#include <functional>
#include <memory>

// The development daemon as a real process on a private endpoint, with its
// own PROGRAMDATA (token, state) in a temporary folder.
class DaemonProcess
{
public:
    explicit DaemonProcess(const QString &root) : m_root(root)
    {
        m_socket = root + QStringLiteral("/daemon.sock");
        m_programData = root + QStringLiteral("/programdata");
        m_log = root + QStringLiteral("/received.log");
        m_temp = root + QStringLiteral("/tmp");
        QDir().mkpath(m_temp);
    }
    ~DaemonProcess() { kill(); }

    // Starts the daemon with the extra arguments and waits until it serves.
    bool start(const QStringList &args = {}, bool withProgramData = true)
    {
        m_process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KESTRIX_PIPE"), m_socket);
        env.insert(QStringLiteral("TMPDIR"), m_temp);
        if (withProgramData)
            env.insert(QStringLiteral("PROGRAMDATA"), m_programData);
        else
            env.remove(QStringLiteral("PROGRAMDATA"));
        m_process->setProcessEnvironment(env);
        m_process->setProgram(QStringLiteral(KESTRIX_DAEMON_BINARY));
        m_process->setArguments(
            QStringList{QStringLiteral("--foreground"), QStringLiteral("--log"), m_log} + args);
        m_process->start();
        if (!m_process->waitForStarted(5000))
            return false;
        return waitUntilServing(*m_process, m_socket, 10000);
    }

    bool waitForExit(int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return m_process->state() == QProcess::NotRunning; },
                               timeoutMs);
    }
    void kill()
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }

    QProcess *process() const { return m_process.get(); }
    QString socket() const { return m_socket; }
    QString programData() const { return m_programData; }
    QString tempDir() const { return m_temp; }
    QString tokenPath() const { return m_programData + QStringLiteral("/Kestrix/pipe.token"); }
    QString token() const
    {
        QFile file(tokenPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed()
                                              : QString();
    }
    QList<QByteArray> loggedLines() const
    {
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QList<QByteArray> lines = file.readAll().split('\n');
        if (!lines.isEmpty() && lines.constLast().isEmpty())
            lines.removeLast();
        return lines;
    }

private:
    QString m_root;
    QString m_socket;
    QString m_programData;
    QString m_log;
    QString m_temp;
    std::unique_ptr<QProcess> m_process;
};

// One HTTP/1.1 request to the sign-in page, the way a browser would send it.
struct HttpReply
{
    int code = 0;
    QByteArray body;
};

inline HttpReply httpRequest(const QByteArray &method, const QUrl &url)
{
    QTcpSocket socket;
    socket.connectToHost(url.host(), quint16(url.port()));
    if (!socket.waitForConnected(5000))
        return {};
    const QByteArray body = method == "POST" ? QByteArray("confirm=1") : QByteArray();
    socket.write(method + ' ' + url.path().toLatin1() +
                 " HTTP/1.1\r\nHost: " + url.host().toLatin1() +
                 "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray response;
    (void)QTest::qWaitFor(
        [&] {
            socket.waitForReadyRead(50);
            response += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        5000);
    response += socket.readAll();
    HttpReply reply;
    const QList<QByteArray> status = response.left(response.indexOf("\r\n")).split(' ');
    if (status.size() >= 2)
        reply.code = status.at(1).toInt();
    reply.body = response.mid(response.indexOf("\r\n\r\n") + 4);
    return reply;
}
