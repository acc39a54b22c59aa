#pragma once

#include <QProcess>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>
#endif

// Ties a helper process's life to the test's: when the test process ends in
// any way, a crash or a timeout's kill included, the kernel kills the helper
// too, so no X server, tray or daemon is left behind. Linux only; elsewhere
// the test's own clean-up is all there is. Call before start().
inline void dieWithTest(QProcess &process)
{
#ifdef Q_OS_LINUX
    const pid_t test = ::getpid();
    process.setChildProcessModifier([test] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != test) // the test died before the line above
            ::_exit(1);
    });
#else
    Q_UNUSED(process);
#endif
}
