#pragma once

class QQuickWindow;

// For start-up benchmarks: when KESTRIX_REPORT_FIRST_FRAME is set, the first
// frame that reaches the screen prints one line to stderr,
//   first-frame-monotonic-ns <CLOCK_MONOTONIC in ns>
// which a launcher compares with the moment it started the process. Nothing
// happens (and nothing is connected) when the variable is unset.
void reportFirstFrameWhenAsked(QQuickWindow *window);
