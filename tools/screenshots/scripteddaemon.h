#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QPointer>
#include <QString>

class QLocalSocket;

// The daemon's end of the pipe for the screenshot run: accepts the client,
// ignores what it writes and sends it the event lines of the script.
class ScriptedDaemon : public QObject
{
    Q_OBJECT
public:
    explicit ScriptedDaemon(QObject *parent = nullptr);

    bool listen(const QString &path);
    bool hasClient() const { return !m_peer.isNull(); }
    // Sends one event line; a line feed is added.
    void send(const QByteArray &line);
    // Goes away: the client's connection is closed and no new one is taken.
    void stop();

private:
    QLocalServer m_server;
    QPointer<QLocalSocket> m_peer;
};
