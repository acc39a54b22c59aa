#pragma once

#include <QList>

// How long the pipe client waits before each retry. The quick round (the
// first attempt and ten retries 500 ms apart) catches a daemon that is just
// starting; after it the waits grow to 30 s and stay there for as long as the
// application runs, so a daemon that comes up late is still found and one
// that keeps closing the pipe is not hammered.
struct ReconnectTimings
{
    int quickDelayMs = 500;
    int quickRetries = 10;
    QList<int> backoffMs{1000, 2000, 4000, 8000, 16000};
    int steadyDelayMs = 30000;
};

namespace ReconnectSchedule {

// The wait before retry number `retry`, counted from 1 after the first
// attempt of a round. Numbers below 1 count as 1.
int delayBeforeRetry(int retry, const ReconnectTimings &timings = {});

// Whether retry number `retry` comes after the quick round.
bool isPastQuickRound(int retry, const ReconnectTimings &timings = {});

// The retry number after `retry`, kept from growing without bound: every
// number past the backoff steps waits the same.
int nextRetry(int retry, const ReconnectTimings &timings = {});

} // namespace ReconnectSchedule
