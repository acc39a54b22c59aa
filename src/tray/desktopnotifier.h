#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// Notifications through the desktop's notification service
// (org.freedesktop.Notifications) rather than through the tray icon: shown
// as the application's own (its name, icon and desktop entry), with normal
// urgency so that desktops show a banner, and the tray item left as it is.
// One notification at a time: each replaces the one before, so a link that
// flaps updates one notification instead of stacking them. Every call is
// asynchronous; without a service the fallback shows the text instead.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    using Fallback = std::function<void(const QString &title, const QString &message)>;

    static constexpr int kTimeoutMs = 4000;

    // appId: the installed desktop entry and icon name; icon: what is sent
    // as pixels when the icon theme does not know appId.
    DesktopNotifier(QDBusConnection bus, QString appId, const QImage &icon, QObject *parent = nullptr);

    void setFallback(Fallback fallback) { m_fallback = std::move(fallback); }
    void notify(const QString &title, const QString &message);

    // The service's id of our last notification; 0 before the first.
    uint lastId() const { return m_lastId; }

private:
    struct Text
    {
        QString title;
        QString message;
    };
    void send(const Text &text);
    void fallBack(const Text &text);

    QDBusConnection m_bus;
    QString m_appId;
    QImage m_icon;
    Fallback m_fallback;
    uint m_lastId = 0;
    bool m_pending = false;
    // What came while a call was under way; sent with that call's id.
    std::optional<Text> m_queued;
};
