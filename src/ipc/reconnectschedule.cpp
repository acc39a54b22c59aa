#include "ipc/reconnectschedule.h"

#include <QtGlobal>

namespace ReconnectSchedule {

int delayBeforeRetry(int retry, const ReconnectTimings &timings)
{
    if (!isPastQuickRound(retry, timings))
        return timings.quickDelayMs;
    const qsizetype step = qsizetype(retry) - timings.quickRetries - 1;
    return step < timings.backoffMs.size() ? timings.backoffMs.at(step) : timings.steadyDelayMs;
}

bool isPastQuickRound(int retry, const ReconnectTimings &timings)
{
    return retry > timings.quickRetries;
}

int nextRetry(int retry, const ReconnectTimings &timings)
{
    const int last = timings.quickRetries + int(timings.backoffMs.size()) + 1;
    return qBound(1, retry + 1, last);
}

} // namespace ReconnectSchedule
