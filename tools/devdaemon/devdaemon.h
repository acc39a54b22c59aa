#pragma once

#include "daemonoptions.h"
#include "eventscript.h"
#include "loginpage.h"
#include "ownedfolder.h"
#include "vpnsimulator.h"

#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

class ClientSession;

// The development daemon: serves the pipe, checks each handshake against a
// fresh token, answers every command as the real daemon does and pushes its
// state changes to every client.
class DevDaemon : public QObject
{
    Q_OBJECT

public:
    explicit DevDaemon(const DaemonOptions &options, QObject *parent = nullptr);
    ~DevDaemon() override;

    // Everything that can fail before serving: the log, the script, the
    // token, the page server and the endpoint. False with a reason on failure.
    bool start(QString *error);

signals:
    // The daemon has been told to end (shutdown, applied update).
    void finished(int exitCode);

private:
    void onNewConnection();
    void onLine(ClientSession *session, const QByteArray &raw, const QJsonObject &object,
                bool isObject);
    // The line as the log and the journal keep it: no token in it.
    QByteArray withoutSecrets(const QByteArray &raw, const QJsonObject &object,
                              bool isObject) const;
    void handshake(ClientSession *session, const QJsonObject &object, bool isObject);
    void command(ClientSession *session, const QJsonObject &object);

    void loginStart(ClientSession *session);
    void setAuthenticated(bool authenticated);
    QString diagnosticsFolder();
    void diagnostics(ClientSession *session);
    void installUpdate(ClientSession *session);
    void applyUpdate(ClientSession *session);
    void stop(int exitCode);

    QJsonObject statusEvent() const;
    void broadcast(const QJsonObject &event);
    void broadcastLine(const QByteArray &line);
    void journal(const QString &entry);

    bool openFolders(QString *error);
    bool writeToken(QString *error);
    void loadState();
    void saveState() const;

    DaemonOptions m_options;
    QLocalServer m_server;
    LoginPage m_loginPage;
    VpnSimulator m_vpn;
    EventScript m_script;
    QList<QPointer<ClientSession>> m_sessions;
    QFile m_log;
    QString m_token;
    OwnedFolder m_dataFolder;  // PROGRAMDATA/Kestrix: the token, the default state
    OwnedFolder m_stateFolder; // where the state file lives
    QString m_diagFolder;      // private, made on the first request

    bool m_authenticated = false;
    QString m_killSwitchMode = QStringLiteral("never");
    QTimer m_loginExpiry;
    QTimer m_autoLogin;

    enum class Update
    {
        None,
        Offered,
        Downloading,
        Ready,
        Applying
    };
    Update m_update = Update::None;
    int m_updateProgress = 0;
    QTimer m_updateTimer;

    QStringList m_journal; // recent traffic, for the diagnostics bundle
    bool m_stopping = false;
};
