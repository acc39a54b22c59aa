#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

// The browser half of a sign-in: a tiny HTTP server on 127.0.0.1 serving one
// page per sign-in offer, with buttons to approve or decline it. Approving
// needs a POST, so a link preview or prefetch never signs anybody in.
class LoginPage : public QObject
{
    Q_OBJECT

public:
    explicit LoginPage(QObject *parent = nullptr);

    bool listen(QString *error);
    quint16 port() const { return m_server.serverPort(); }

    // Opens a new offer (replacing any earlier one) and returns its page URL.
    QString open(const QDateTime &expiresAt);
    // Withdraws the current offer; its page then answers that it is gone.
    void close();
    bool isOpen() const { return !m_nonce.isEmpty(); }

signals:
    void approved();
    void declined();

private:
    void serve(QTcpSocket *socket);
    void respond(QTcpSocket *socket, int code, const QString &title, const QString &body);
    bool isLive(const QString &nonce) const;

    QTcpServer m_server;
    QString m_nonce;
    QDateTime m_expiresAt;
};
