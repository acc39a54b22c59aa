#pragma once

#include "daemon/servicestate.h"

#include <QByteArray>
#include <QString>

namespace Systemd {

// Reads the answer of `systemctl show --property=ActiveState <unit>`.
// "active" and "reloading" count as running, "activating" as start pending;
// an empty or unreadable answer is a failed query.
ServiceState stateFromShowOutput(const QByteArray &output);

// Asks systemd for the unit's state. No systemd, no bus, a hung or failing
// systemctl: QueryFailed. Bounded by a short timeout.
ServiceState queryUnitState(const QString &unit);

// The question itself, whether systemd runs or not: the system's systemctl
// (never one found along PATH), in a fixed environment. QueryFailed when
// there is none or it fails.
ServiceState askSystemctl(const QString &unit);

} // namespace Systemd
