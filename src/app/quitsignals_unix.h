#pragma once

class QCoreApplication;

// SIGTERM (a logout, a service manager), SIGINT and SIGHUP end the app the
// way the tray's Quit does: the event loop quits, the quit hook runs and
// everything is torn down in order (tray item, settings, private files).
// The handler only writes a byte to a pipe that the event loop watches; no
// Qt call ever runs inside it. False when the pipe or a handler could not be
// had (the signals then keep their default action).
bool quitOnTerminationSignals(QCoreApplication &app);
