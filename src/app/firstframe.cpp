#include "app/firstframe.h"

#include <QQuickWindow>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <cstdio>

void reportFirstFrameWhenAsked(QQuickWindow *window)
{
    if (!window || qEnvironmentVariableIsEmpty("KESTRIX_REPORT_FIRST_FRAME"))
        return;
    // Direct: the threaded render loop swaps on its own thread, and the time
    // wanted is the swap's, not that of a later turn of the event loop.
    // steady_clock is CLOCK_MONOTONIC on Linux, the clock launchers read too.
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [] {
            static std::atomic_bool reported{false};
            if (reported.exchange(true))
                return;
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            std::fprintf(stderr, "first-frame-monotonic-ns %lld\n",
                         static_cast<long long>(
                             std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
            std::fflush(stderr);
        },
        Qt::DirectConnection);
}
