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
    explicit TrayHosts(QObject *parent = nullptr);
    ~TrayHosts() override;

    bool xembed() const { return m_xembed; }
    bool statusNotifier() const { return m_statusNotifier; }
    // False until the session bus has answered the first question (or
    // could not be asked): until then no host is a guess, not an answer.
    bool known() const { return m_known; }

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
    void setStatusNotifier(bool present, int generation);

    struct Bus;
    Bus *m_bus = nullptr;
    class X11Watch;
    std::unique_ptr<X11Watch> m_x11;
    bool m_xembed = false;
    bool m_statusNotifier = false;
    bool m_known = false;
    // Answers to an older question are dropped: the watcher may have gone since.
    int m_generation = 0;
};
