#pragma once

#include "app/tcpclientowner.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <functional>

class QTcpSocket;

// Hands a sign-in page to the user's browser without writing its one-time
// code into a file or onto a command line: listens on 127.0.0.1 at a port the
// system picks and serves, once, a page that forwards to the target, at a
// path only this object and the browser it opened know. The browser is handed
// http://127.0.0.1:PORT/<token>, which is worth nothing to anyone else: the
// page goes only to a connection whose client socket belongs to this user,
// and once it is served the listener closes. Everything else (another path,
// method or user, an oversized or slow request) gets a 404 or is dropped,
// and leaves the token as it was.
class LoopbackHandoff : public QObject
{
    Q_OBJECT

public:
    using OwnerLookup = std::function<TcpClientOwner(const QTcpSocket &)>;

    static constexpr qsizetype kMaxRequestBytes = qsizetype(8) * 1024;
    static constexpr int kDefaultRequestTimeoutMs = 5000;
    static constexpr int kMaxConnections = 8;

    explicit LoopbackHandoff(QObject *parent = nullptr);
    ~LoopbackHandoff() override;

    // Starts listening with the page for target (an already checked URL);
    // false when no port could be had.
    bool open(const QUrl &target, const QString &linkText);
    // A newer page to forward to; a browser that has not fetched yet gets this one.
    void setTarget(const QUrl &target, const QString &linkText);
    // Stops listening and drops every connection. The object is spent.
    void close();

    // What to hand the browser; empty until open() worked.
    QUrl url() const;
    bool isListening() const { return m_server.isListening(); }
    bool pageServed() const { return m_served; }
    // Connections taken in and not yet closed.
    qsizetype connectionCount() const { return m_requests.size(); }

    // Test seams: a shorter bound for a request, another way to name a client's owner.
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }
    void setOwnerLookup(OwnerLookup lookup) { m_ownerOf = std::move(lookup); }

signals:
    // The page went to the browser; the listener has closed.
    void served();

private:
    void accept();
    void read(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &request);
    void reply(QTcpSocket *socket, const QByteArray &response);
    void drop(QTcpSocket *socket);

    QTcpServer m_server;
    QByteArray m_token;
    QByteArray m_page;
    bool m_served = false;
    int m_requestTimeoutMs = kDefaultRequestTimeoutMs;
    OwnerLookup m_ownerOf = tcpClientOwner;
    // What each connection has sent so far.
    QHash<QTcpSocket *, QByteArray> m_requests;
};
