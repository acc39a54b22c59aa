#include "app/deferredstartup.h"

#include <QQuickWindow>

DeferredStartup::DeferredStartup(std::function<void()> work) : m_work(std::move(work))
{
    m_fallback.setSingleShot(true);
    QObject::connect(&m_fallback, &QTimer::timeout, [this] { runNow(); });
}

void DeferredStartup::runAfterFirstFrame(QQuickWindow *window, int fallbackMs)
{
    if (!m_work)
        return;
    // Queued: the threaded render loop swaps on its own thread, and the work
    // belongs on this one, after the frame is out.
    if (window)
        m_frameSwapped = QObject::connect(
            window, &QQuickWindow::frameSwapped, &m_fallback, [this] { runNow(); },
            Qt::QueuedConnection);
    m_fallback.start(fallbackMs);
}

void DeferredStartup::runNow()
{
    QObject::disconnect(m_frameSwapped);
    m_fallback.stop();
    if (!m_work)
        return;
    const std::function<void()> work = std::move(m_work);
    m_work = nullptr;
    work();
}
