#pragma once

#include <QMetaObject>
#include <QTimer>

#include <functional>

class QQuickWindow;

// Start-up work that the window's first frame need not wait for (the window
// icon, the tray icon, the daemon's service check): done once, after that
// frame, after a fallback delay if no frame comes, or as soon as something
// needs it done.
class DeferredStartup
{
public:
    explicit DeferredStartup(std::function<void()> work);
    DeferredStartup(const DeferredStartup &) = delete;
    DeferredStartup &operator=(const DeferredStartup &) = delete;

    void runAfterFirstFrame(QQuickWindow *window, int fallbackMs);
    // Runs the work unless it has run already.
    void runNow();

private:
    std::function<void()> m_work; // emptied once run
    QTimer m_fallback;
    QMetaObject::Connection m_frameSwapped;
};
