#include "scripteddaemon.h"

#include <QLocalSocket>

ScriptedDaemon::ScriptedDaemon(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = m_server.nextPendingConnection()) {
            m_peer = peer;
            connect(peer, &QLocalSocket::readyRead, peer, [peer] { peer->readAll(); });
        }
    });
}

bool ScriptedDaemon::listen(const QString &path)
{
    QLocalServer::removeServer(path);
    return m_server.listen(path);
}

void ScriptedDaemon::stop()
{
    m_server.close();
    if (m_peer)
        m_peer->disconnectFromServer();
}

void ScriptedDaemon::send(const QByteArray &line)
{
    if (!m_peer)
        return;
    m_peer->write(line + '\n');
    m_peer->flush();
}
