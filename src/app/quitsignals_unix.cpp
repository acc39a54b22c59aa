#include "app/quitsignals_unix.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The write end, for the handler; -1 until installed.
volatile sig_atomic_t g_writeEnd = -1;

void onTerminationSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a quit; nothing else is async-signal-safe to do.
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
    errno = savedErrno;
}

} // namespace

bool quitOnTerminationSignals(QCoreApplication &app)
{
    if (g_writeEnd >= 0)
        return true;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    g_writeEnd = ends[1];

    auto *notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [readEnd = ends[0]] {
        char bytes[64];
        while (::read(readEnd, bytes, sizeof bytes) > 0) {
        }
        QCoreApplication::quit();
    });

    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Calls the signal interrupts go on instead of failing with EINTR.
    action.sa_flags = SA_RESTART;
    bool all = true;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        all = ::sigaction(signal, &action, nullptr) == 0 && all;
    return all;
}
