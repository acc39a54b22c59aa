#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// What a dbus-monitor log of the session bus (E2eSession::startBusMonitor)
// says the app asked of the desktop: the notifications it sent, each with the
// id the notification server answered, and the status its tray item
// announced.
namespace BusLog {

struct Notification
{
    QString sender; // the unique bus name of the process that sent it
    QString appName;
    quint32 replacesId = 0;
    QString appIcon;
    QString summary;
    QString body;
    // Each hint as dbus-monitor prints its value: "byte 1", "string \"x\"",
    // "struct {" for an image.
    QMap<QString, QString> hints;
    qint32 timeout = -2;
    quint32 id = 0; // the server's answer; 0 until it came (or when it failed)
};

QList<Notification> notifications(const QByteArray &log);
// The values of the NewStatus signals of StatusNotifierItems, in order.
QStringList newStatuses(const QByteArray &log);

} // namespace BusLog
