#pragma once

#include <QObject>

#include <memory>

// Which kinds of system tray the desktop offers, followed as they come and
// go, without polling: the X11 tray selection (XEmbed trays such as trayer or
// a panel's notification area), and a StatusNotifierItem host behind
// org.kde.StatusNotifierWatcher on the session bus (Plasma, GNOME's
// AppIndicator extension, LXQt, XFCE, MATE, waybar, swaybar).
//
// It never asks QSystemTrayIcon: Qt settles on one kind of tray icon for the
// whole process the first time it is asked, and a panel that starts later
// must still find the icon of the right kind.
class TrayHosts : public QObject
{
    Q_OBJECT

public:
    // How long the watcher gets to answer: the first question waits
    // firstQueryTimeoutMs, each one asked again after a time-out twice as
    // long as the one before, up to longestQueryTimeoutMs.
    struct Timeouts
    {
        int firstQueryTimeoutMs = 3000;
        int longestQueryTimeoutMs = 30000;
    };

    explicit TrayHosts(QObject *parent = nullptr);
    ~TrayHosts() override;

    // Before start(); tests shorten them.
    void setTimeouts(Timeouts timeouts) { m_timeouts = timeouts; }

    // Starts looking (once): a window being shown draws its first frame
    // before the X server and the session bus are asked anything.
    void start();

    bool xembed() const { return m_xembed; }
    bool statusNotifier() const { return m_statusNotifier; }
    // False until started and the session bus has answered the first
    // question (or could not be asked): until then "no host" is a guess.
    bool known() const { return m_known; }
    // True while a question to the watcher is open: a watcher that is slow to
    // answer (a desktop still starting) may yet say that a host is there.
    bool statusNotifierPending() const { return m_pending; }
    // Whether a StatusNotifierItem host could ever come: not without a
    // session bus (nor on Windows).
    bool statusNotifierPossible() const { return m_busConnected; }

signals:
    // Any of the three above changed.
    void changed();

public slots:
    // Reads the X11 tray selection again (cheap, synchronous, no caching).
    void refreshXEmbed();

private slots:
    void queryStatusNotifierHost();
    void onWatcherGone();

private:
    void ask(int timeoutMs);
    void setStatusNotifier(bool present, int generation);
    void onQueryTimedOut(int generation, int timeoutMs);

    struct Bus;
    Bus *m_bus = nullptr;
    class X11Watch;
    std::unique_ptr<X11Watch> m_x11;
    bool m_xembed = false;
    bool m_statusNotifier = false;
    bool m_known = false;
    bool m_started = false;
    bool m_pending = false;
    bool m_busConnected = false;
    Timeouts m_timeouts;
    // Answers to an older question are dropped: the watcher may have gone since.
    int m_generation = 0;
};
