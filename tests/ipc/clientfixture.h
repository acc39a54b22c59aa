#pragma once

#include "ipc/pipeclient.h"

#include "fakedaemon.h"

#include <QtTest>

#include <memory>

// A PipeClient connected to a FakeDaemon, past its handshake.
struct ConnectedClient
{
    FakeDaemon daemon;
    std::unique_ptr<PipeClient> client;
    int marker = 0;

    bool start()
    {
        if (!daemon.listen())
            return false;
        client = std::make_unique<PipeClient>();
        client->connectToPipe();
        if (!daemon.waitForLines(1))
            return false;
        daemon.clearLines();
        return true;
    }

    // Sends the lines, then waits until the client has handled all of them:
    // events are handled in order, so a "pong" sent last marks the end.
    bool deliver(const QList<QByteArray> &lines)
    {
        const QString tag = QStringLiteral("marker-%1").arg(++marker);
        QSignalSpy done(client.get(), &PipeClient::versionReceived);
        for (const QByteArray &line : lines)
            daemon.send(line);
        daemon.send(R"({"type":"pong","version":")" + tag.toUtf8() + R"("})");
        return QTest::qWaitFor(
            [&] {
                for (const QList<QVariant> &args : done)
                    if (args.value(0).toString() == tag)
                        return true;
                return false;
            },
            5000);
    }
    bool deliver(const QByteArray &line) { return deliver(QList<QByteArray>{line}); }
};
