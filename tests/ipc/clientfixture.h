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

    bool start()
    {
        if (!daemon.listen())
            return false;
        client = std::make_unique<PipeClient>();
        return daemon.connectClient(*client);
    }

    // Sends the lines and waits until the client has handled all of them.
    bool deliver(const QList<QByteArray> &lines) { return daemon.deliver(*client, lines); }
    bool deliver(const QByteArray &line) { return deliver(QList<QByteArray>{line}); }
};
