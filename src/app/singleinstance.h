#pragma once

#include <QString>

class QLocalServer;

// The local-socket name that keeps one interface per user. On Unix it lives
// in the user's private runtime folder, so that two users on one machine never
// meet; empty when there is no such folder (the interface then runs without
// the guard rather than use a shared place).
QString singleInstanceName();

// Hands over to a running instance: connects to name within waitMs and writes
// "show". On Unix only to a server of this very user; another user's server is
// told nothing. True when the message went to an instance of ours.
bool tellRunningInstanceToShow(const QString &name, int waitMs);

// Takes over name (a stale server of a crashed run is removed first) and
// listens on it, reachable by this user only. False when not listening.
bool listenAsSingleInstance(QLocalServer &server, const QString &name);
