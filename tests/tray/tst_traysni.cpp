// The tray icon on a StatusNotifierItem desktop, and notifications through
// the desktop's notification service, against fakes of both on a private
// session bus: the panel's side of the protocol (register, click, read the
// menu, pick an entry) and the notification service's (what is sent).
//
// The fakes answer from a thread of their own: the code under test talks to
// them from this thread, and Qt asks the watcher synchronously whether a host
// is there when it makes the first tray icon.

#include "appidentity.h"
#include "settings/stringtable.h"
#include "tray/desktopnotifier.h"
#include "tray/trayhosts.h"
#include "tray/traymanager.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "quietbus.h"
#include "testmain.h"
#include "traywatcher.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/types.h>

namespace {

const QString kFakeConnection = QStringLiteral("kestrix-fake-desktop");
// Two more watchers, each on a connection of its own, for a watcher that
// changes hands.
const QString kFirstWatcherConnection = QStringLiteral("kestrix-watcher-first");
const QString kSecondWatcherConnection = QStringLiteral("kestrix-watcher-second");
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kNotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

} // namespace

// A watcher whose answer the test decides: whether a host is there, and
// whether to hold the answer back until the test releases it (a desktop still
// loading its modules).
class ScriptedWatcher : public QDBusVirtualObject
{
public:
    void setAnswer(bool hostRegistered, bool withhold)
    {
        QMutexLocker lock(&m_mutex);
        m_answer = hostRegistered;
        m_withhold = withhold;
    }
    // Questions held back so far.
    int held() const
    {
        QMutexLocker lock(&m_mutex);
        return m_held;
    }
    // Questions asked so far, held back or not.
    int asked() const
    {
        QMutexLocker lock(&m_mutex);
        return m_asked;
    }
    // Answers every held question with `hostRegistered`; later ones are
    // answered at once.
    void release(bool hostRegistered)
    {
        QList<QPair<QDBusMessage, QDBusConnection>> waiting;
        {
            QMutexLocker lock(&m_mutex);
            m_withhold = false;
            waiting.swap(m_waiting);
        }
        for (const auto &[message, connection] : std::as_const(waiting))
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(hostRegistered))));
    }
    QStringList items() const
    {
        QMutexLocker lock(&m_mutex);
        return m_items;
    }

    QString introspect(const QString &) const override
    {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" "
            "direction=\"in\"/></method>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString member = message.member();
        if (member == QLatin1String("Introspect")) {
            connection.send(message.createReply(
                QStringLiteral("<node>") + introspect(message.path()) + QStringLiteral("</node>")));
            return true;
        }
        if (member == QLatin1String("RegisterStatusNotifierItem")) {
            {
                QMutexLocker lock(&m_mutex);
                m_items << message.arguments().value(0).toString();
            }
            connection.send(message.createReply());
            return true;
        }
        if (member != QLatin1String("Get")) {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
            return true;
        }
        const QString property = message.arguments().value(1).toString();
        QVariant value;
        {
            QMutexLocker lock(&m_mutex);
            if (property == QLatin1String("IsStatusNotifierHostRegistered")) {
                ++m_asked;
                if (m_withhold) {
                    ++m_held;
                    m_waiting.append({message, connection});
                    return true;
                }
                value = m_answer;
            } else if (property == QLatin1String("ProtocolVersion")) {
                value = 0;
            } else {
                value = m_items;
            }
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        return true;
    }

private:
    mutable QMutex m_mutex;
    bool m_answer = true;
    bool m_withhold = false;
    int m_held = 0;
    int m_asked = 0;
    QList<QPair<QDBusMessage, QDBusConnection>> m_waiting;
    QStringList m_items;
};

struct Notification
{
    QString appName;
    uint replacesId = 0;
    QString appIcon;
    QString summary;
    QString body;
    QStringList actions;
    QVariant desktopEntry;
    QVariant urgency;
    QString imageSignature;
    QSize imageSize;
    int imageBytes = 0;
    int timeout = 0;
    uint id = 0;
};

// The desktop's notification service: records what it is sent.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<Notification> received() const
    {
        QMutexLocker lock(&m_mutex);
        return m_received;
    }

public slots:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int timeout)
    {
        Notification n;
        n.appName = appName;
        n.replacesId = replacesId;
        n.appIcon = appIcon;
        n.summary = summary;
        n.body = body;
        n.actions = actions;
        n.desktopEntry = hints.value(QStringLiteral("desktop-entry"));
        n.urgency = hints.value(QStringLiteral("urgency"));
        n.timeout = timeout;
        const QVariant image = hints.value(QStringLiteral("image-data"));
        if (image.canConvert<QDBusArgument>()) {
            const QDBusArgument argument = image.value<QDBusArgument>();
            n.imageSignature = argument.currentSignature();
            int width = 0, height = 0, stride = 0, bits = 0, channels = 0;
            bool alpha = false;
            QByteArray bytes;
            argument.beginStructure();
            argument >> width >> height >> stride >> alpha >> bits >> channels >> bytes;
            argument.endStructure();
            n.imageSize = QSize(width, height);
            n.imageBytes = int(bytes.size());
            if (stride != width * 4 || !alpha || bits != 8 || channels != 4 ||
                bytes.size() != stride * height)
                n.imageSignature += QStringLiteral(" (inconsistent)");
        }
        QMutexLocker lock(&m_mutex);
        n.id = ++m_lastId;
        m_received << n;
        return n.id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }

private:
    mutable QMutex m_mutex;
    QList<Notification> m_received;
    uint m_lastId = 40;
};

// A notification service that keeps every call open until the test answers
// them all with an error: one that fails, slowly.
class FailingNotifications : public QDBusVirtualObject
{
public:
    int held() const
    {
        QMutexLocker lock(&m_mutex);
        return int(m_waiting.size());
    }
    void failAll()
    {
        QList<QPair<QDBusMessage, QDBusConnection>> waiting;
        {
            QMutexLocker lock(&m_mutex);
            waiting.swap(m_waiting);
        }
        for (const auto &[message, connection] : std::as_const(waiting))
            connection.send(
                message.createErrorReply(QDBusError::Failed, QStringLiteral("out of order")));
    }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QMutexLocker lock(&m_mutex);
        m_waiting.append({message, connection});
        return true;
    }

private:
    mutable QMutex m_mutex;
    QList<QPair<QDBusMessage, QDBusConnection>> m_waiting;
};

class TestTraySni : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    // First: Qt settles on its kind of tray icon when the first one is made.
    void lateHostGetsTheIcon();
    void menuOverDBus();
    void clicksOverDBus();
    void notificationsThroughTheService();
    void withoutServiceFallsBack();
    void hostGoingAwayAndBack();
    void watcherAnswer_data();
    void watcherAnswer();
    void slowWatcherIsAskedUntilItAnswers();
    void staleAnswerOfAnEarlierWatcherIsDropped();
    void failedNotificationFallsBackToTheNewestText();
    void privateBusActivatesNothing();
    void bothKindsOfTrayGetTheMenu();
    void xembedTrayWaitsForTheWatcher();
    void xembedTrayWaitsForASlowWatcher();
    void xembedTrayAloneGetsTheIconAfterAMoment();

private:
    QDBusConnection fake() const { return QDBusConnection(kFakeConnection); }
    bool registerWatcher();
    void unregisterWatcher();
    // The item that registered after `before` items; empty if none came.
    QString waitForNewItem(qsizetype before);
    QDBusMessage call(const QString &service, const QString &path, const QString &interface,
                      const QString &method, const QVariantList &args = {});
    QVariant itemProperty(const QString &item, const QString &name);

    // A scripted watcher on its own connection.
    ScriptedWatcher *scripted(const QString &connection);
    // One on the first spare connection that owns the watcher's name and
    // answers as told; null if it cannot be had.
    ScriptedWatcher *scriptedOwner(bool hostRegistered, bool withhold);
    bool takeWatcherName(const QString &connection)
    {
        return QDBusConnection(connection).registerService(kWatcherService);
    }

    QThread m_thread;
    QObject *m_context = nullptr;
    TrayWatcher *m_watcher = nullptr;
    bool registerVirtual(const QString &connection, const QString &path,
                         const std::function<QDBusVirtualObject *()> &make);
    struct Virtual
    {
        QString connection;
        QString path;
        QDBusVirtualObject *object = nullptr;
    };
    QList<Virtual> m_virtuals;
    FakeNotifications *m_notifications = nullptr;
};

namespace {

// A menu entry as com.canonical.dbusmenu lays it out.
struct MenuEntry
{
    int id = 0;
    QVariantMap properties;
    QString label() const { return properties.value(QStringLiteral("label")).toString(); }
    bool enabled() const { return properties.value(QStringLiteral("enabled"), true).toBool(); }
    bool visible() const { return properties.value(QStringLiteral("visible"), true).toBool(); }
    bool separator() const
    {
        return properties.value(QStringLiteral("type")).toString() == QLatin1String("separator");
    }
};

// The top level's children of a GetLayout reply's (ia{sv}av).
QList<MenuEntry> topLevel(const QDBusArgument &layout)
{
    QList<MenuEntry> entries;
    int id = 0;
    QVariantMap properties;
    layout.beginStructure();
    layout >> id >> properties;
    layout.beginArray();
    while (!layout.atEnd()) {
        QDBusVariant child;
        layout >> child;
        const QDBusArgument item = child.variant().value<QDBusArgument>();
        MenuEntry entry;
        item.beginStructure();
        item >> entry.id >> entry.properties;
        item.endStructure();
        entries << entry;
    }
    layout.endArray();
    layout.endStructure();
    return entries;
}

} // namespace

void TestTraySni::initTestCase()
{
    QVERIFY(fake().isConnected());
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
    bool registered = false;
    // Made and registered in their thread, which then serves their calls.
    QMetaObject::invokeMethod(
        m_context,
        [this, &registered] {
            m_watcher = new TrayWatcher;
            m_notifications = new FakeNotifications;
            const auto all = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                             QDBusConnection::ExportAllProperties;
            registered =
                fake().registerObject(QStringLiteral("/StatusNotifierWatcher"), m_watcher, all) &&
                fake().registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                      m_notifications, all);
        },
        Qt::BlockingQueuedConnection);
    QVERIFY(registered);
}

void TestTraySni::cleanupTestCase()
{
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            fake().unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
            fake().unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
            delete m_watcher;
            delete m_notifications;
            delete m_context;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    for (const QString &name : {kFakeConnection, kFirstWatcherConnection, kSecondWatcherConnection})
        QDBusConnection::disconnectFromBus(name);
}

void TestTraySni::cleanup()
{
    // Each test brings the notification service and the watcher it wants.
    fake().unregisterService(kNotificationsService);
    for (const QString &name : {kFirstWatcherConnection, kSecondWatcherConnection}) {
        QDBusConnection(name).unregisterService(kWatcherService);
        QDBusConnection(name).unregisterService(kNotificationsService);
    }
    const auto virtuals = std::exchange(m_virtuals, {});
    for (const Virtual &object : virtuals) {
        QMetaObject::invokeMethod(
            m_context,
            [object] {
                QDBusConnection(object.connection).unregisterObject(object.path);
                delete object.object;
            },
            Qt::BlockingQueuedConnection);
    }
}

ScriptedWatcher *TestTraySni::scripted(const QString &connection)
{
    ScriptedWatcher *watcher = nullptr;
    if (!registerVirtual(connection, QStringLiteral("/StatusNotifierWatcher"),
                         [&watcher] { return watcher = new ScriptedWatcher; }))
        return nullptr;
    return watcher;
}

ScriptedWatcher *TestTraySni::scriptedOwner(bool hostRegistered, bool withhold)
{
    unregisterWatcher();
    ScriptedWatcher *watcher = scripted(kFirstWatcherConnection);
    if (!watcher)
        return nullptr;
    watcher->setAnswer(hostRegistered, withhold);
    return takeWatcherName(kFirstWatcherConnection) ? watcher : nullptr;
}

bool TestTraySni::registerVirtual(const QString &connection, const QString &path,
                                  const std::function<QDBusVirtualObject *()> &make)
{
    QDBusVirtualObject *object = nullptr;
    bool registered = false;
    // Made in the fakes' thread, which then serves its calls.
    QMetaObject::invokeMethod(
        m_context,
        [&] {
            object = make();
            registered = QDBusConnection(connection).registerVirtualObject(path, object);
            if (!registered)
                delete object;
        },
        Qt::BlockingQueuedConnection);
    if (registered)
        m_virtuals.append({connection, path, object});
    return registered;
}

bool TestTraySni::registerWatcher()
{
    return fake().registerService(kWatcherService);
}

void TestTraySni::unregisterWatcher()
{
    fake().unregisterService(kWatcherService);
}

QString TestTraySni::waitForNewItem(qsizetype before)
{
    if (!QTest::qWaitFor([&] { return m_watcher->items().size() > before; }, 10000))
        return {};
    return m_watcher->items().constLast();
}

QDBusMessage TestTraySni::call(const QString &service, const QString &path,
                               const QString &interface, const QString &method,
                               const QVariantList &args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    // Asynchronous: the item answers from this very thread.
    QDBusPendingCall pending = fake().asyncCall(message, 10000);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 12000))
        return {};
    return pending.reply();
}

QVariant TestTraySni::itemProperty(const QString &item, const QString &name)
{
    const QDBusMessage reply = call(item, QStringLiteral("/StatusNotifierItem"),
                                    QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {kItemInterface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

// A panel that starts after the application still gets the icon, and the
// icon is Qt's StatusNotifierItem, not an XEmbed window nobody embeds.
void TestTraySni::lateHostGetsTheIcon()
{
    TrayManager tray;
    QSignalSpy changed(&tray, &TrayManager::trayAvailableChanged);
    QTRY_VERIFY(tray.trayKnown());
    QVERIFY(!tray.trayAvailable());
    QVERIFY(!tray.trayIcon());

    const qsizetype before = m_watcher->items().size();
    QVERIFY(registerWatcher());
    QTRY_VERIFY(tray.trayAvailable());
    QVERIFY(tray.trayIcon());
    QCOMPARE(tray.iconHost(), TrayManager::Host::StatusNotifier);
    const QString item = waitForNewItem(before);
    QVERIFY2(!item.isEmpty(), "the icon did not register with the watcher");
    QCOMPARE(itemProperty(item, QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    QVERIFY(changed.count() >= 1);
}

// What GNOME's AppIndicator extension and the other SNI hosts show on a
// right click: the item's exported menu, in the current language, entries
// enabled as the popup's buttons are, each doing what the popup's does.
void TestTraySni::menuOverDBus()
{
    const qsizetype before = m_watcher->items().size();
    TrayManager tray;
    tray.setSignedIn(true);
    const QString item = waitForNewItem(before);
    QVERIFY(!item.isEmpty());

    const QDBusObjectPath menuPath =
        itemProperty(item, QStringLiteral("Menu")).value<QDBusObjectPath>();
    QVERIFY2(menuPath.path().startsWith(u'/') && menuPath.path() != QLatin1String("/NO_DBUSMENU"),
             qPrintable(menuPath.path()));

    const auto layout = [&] {
        const QDBusMessage reply =
            call(item, menuPath.path(), QStringLiteral("com.canonical.dbusmenu"),
                 QStringLiteral("GetLayout"), {0, -1, QStringList()});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
            return QList<MenuEntry>();
        return topLevel(reply.arguments().at(1).value<QDBusArgument>());
    };
    const auto labels = [](const QList<MenuEntry> &entries) {
        QStringList texts;
        for (const MenuEntry &entry : entries)
            texts << (entry.separator() ? QStringLiteral("--") : entry.label());
        return texts;
    };
    const auto click = [&](const MenuEntry &entry) {
        const QDBusMessage reply =
            call(item, menuPath.path(), QStringLiteral("com.canonical.dbusmenu"),
                 QStringLiteral("Event"),
                 {entry.id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
        return reply.type() == QDBusMessage::ReplyMessage;
    };

    QList<MenuEntry> entries = layout();
    QCOMPARE(labels(entries), (QStringList{"Open Kestrix", "Connect", "--", "Quit"}));
    for (const MenuEntry &entry : std::as_const(entries)) {
        QVERIFY(entry.visible());
        QVERIFY(entry.enabled());
    }

    QSignalSpy show(&tray, &TrayManager::showRequested);
    QSignalSpy hide(&tray, &TrayManager::hideRequested);
    QSignalSpy connectReq(&tray, &TrayManager::connectRequested);
    QSignalSpy disconnectReq(&tray, &TrayManager::disconnectRequested);
    QSignalSpy quit(&tray, &TrayManager::quitRequested);
    QVERIFY(click(entries.at(0)));
    QTRY_COMPARE(show.count(), 1);
    QVERIFY(click(entries.at(1)));
    QTRY_COMPARE(connectReq.count(), 1);
    QVERIFY(click(entries.at(3)));
    QTRY_COMPARE(quit.count(), 1);
    QCOMPARE(hide.count() + disconnectReq.count(), 0);

    // Russian, connected, the window on screen.
    tray.setStrings(StringTable::russian());
    tray.setVpnState(QStringLiteral("connected"));
    tray.setWindowShown(true);
    QTRY_COMPARE(labels(layout()),
                 (QStringList{u8"Скрыть Kestrix", u8"Отключить", "--", u8"Выход"}));
    entries = layout();
    QVERIFY(click(entries.at(0)));
    QTRY_COMPARE(hide.count(), 1);
    QVERIFY(click(entries.at(1)));
    QTRY_COMPARE(disconnectReq.count(), 1);

    // While a connection is being made, and while signed out, nothing to do.
    tray.setVpnState(QStringLiteral("connecting"));
    QTRY_VERIFY(!layout().at(1).enabled());
    tray.setVpnState(QStringLiteral("disconnected"));
    QTRY_VERIFY(layout().at(1).enabled());
    tray.setSignedIn(false);
    QTRY_VERIFY(!layout().at(1).enabled());
    QVERIFY(layout().at(3).enabled()); // Quit always
}

// A left click toggles the window; a host that still sends a right click
// (swaybar) opens the popup at the pointer.
void TestTraySni::clicksOverDBus()
{
    const qsizetype before = m_watcher->items().size();
    TrayManager tray;
    const QString item = waitForNewItem(before);
    QVERIFY(!item.isEmpty());
    QSignalSpy toggle(&tray, &TrayManager::toggleWindowRequested);
    QSignalSpy popup(&tray, &TrayManager::popupRequested);

    const QString path = QStringLiteral("/StatusNotifierItem");
    QCOMPARE(call(item, path, kItemInterface, QStringLiteral("Activate"), {5, 6}).type(),
             QDBusMessage::ReplyMessage);
    QTRY_COMPARE(toggle.count(), 1);
    QCOMPARE(call(item, path, kItemInterface, QStringLiteral("ContextMenu"), {40, 50}).type(),
             QDBusMessage::ReplyMessage);
    QTRY_COMPARE(popup.count(), 1);
    QCOMPARE(toggle.count(), 1);
}

// Sent as the application's own, with normal urgency, replacing our last one;
// the tray item meanwhile stays as it is.
void TestTraySni::notificationsThroughTheService()
{
    const qsizetype before = m_watcher->items().size();
    TrayManager tray;
    const QString item = waitForNewItem(before);
    QVERIFY(!item.isEmpty());
    QVERIFY(fake().registerService(kNotificationsService));
    const qsizetype already = m_notifications->received().size();

    // Two in a row, as a flapping link makes them: the second replaces the first.
    tray.notify(QStringLiteral("Kestrix"), QStringLiteral("Reconnecting"));
    tray.notify(QStringLiteral("Kestrix"), QStringLiteral("Protected"));
    QTRY_COMPARE(m_notifications->received().size(), already + 2);
    const Notification first = m_notifications->received().at(already);
    const Notification second = m_notifications->received().at(already + 1);

    QCOMPARE(first.appName, QStringLiteral("Kestrix"));
    QCOMPARE(first.summary, QStringLiteral("Kestrix"));
    QCOMPARE(first.body, QStringLiteral("Reconnecting"));
    QCOMPARE(first.actions, QStringList());
    QCOMPARE(first.timeout, 4000);
    QCOMPARE(first.desktopEntry.toString(), QString::fromLatin1(AppIdentity::kDesktopId));
    QCOMPARE(first.urgency.typeId(),
             QMetaType::UChar); // a byte on the wire, as the notification protocol has it
    QCOMPARE(first.urgency.value<uchar>(), uchar(1));
    if (first.appIcon.isEmpty()) {
        // Not in the icon theme here: the pixels go along instead.
        QCOMPARE(first.imageSignature, QStringLiteral("(iiibiiay)"));
        QCOMPARE(first.imageSize, QSize(64, 64));
    } else {
        QCOMPARE(first.appIcon, QString::fromLatin1(AppIdentity::kDesktopId));
        QVERIFY(first.imageSignature.isEmpty());
    }
    QCOMPARE(first.replacesId, 0u);
    QCOMPARE(second.body, QStringLiteral("Protected"));
    QCOMPARE(second.replacesId, first.id);

    // The item is never marked as wanting attention for it.
    QTest::qWait(200);
    QCOMPARE(itemProperty(item, QStringLiteral("Status")).toString(), QStringLiteral("Active"));
}

void TestTraySni::withoutServiceFallsBack()
{
    QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kNotificationsService));
    QStringList shown;
    DesktopNotifier notifier(QDBusConnection::sessionBus(), QStringLiteral("app.example"),
                             QImage(16, 16, QImage::Format_ARGB32));
    notifier.setFallback(
        [&](const QString &title, const QString &message) { shown << title + u'|' + message; });
    notifier.notify(QStringLiteral("Kestrix"), QStringLiteral("Protected"));
    QTRY_COMPARE(shown, QStringList{"Kestrix|Protected"});

    // No bus at all: at once.
    DesktopNotifier busless(QDBusConnection(QStringLiteral("no-such-connection")),
                            QStringLiteral("app.example"), QImage());
    busless.setFallback([&](const QString &, const QString &message) { shown << message; });
    busless.notify(QStringLiteral("Kestrix"), QStringLiteral("Failed"));
    QCOMPARE(shown.constLast(), QStringLiteral("Failed"));

    // A StatusNotifierItem does not send it itself (that would mark it as
    // wanting attention): the text is dropped and the item stays as it is.
    const qsizetype before = m_watcher->items().size();
    TrayManager tray;
    const QString item = waitForNewItem(before);
    QVERIFY(!item.isEmpty());
    tray.notify(QStringLiteral("Kestrix"), QStringLiteral("Protected"));
    QTest::qWait(300);
    QCOMPARE(itemProperty(item, QStringLiteral("Status")).toString(), QStringLiteral("Active"));
}

// A panel that restarts: the icon goes with it and comes back with the next.
void TestTraySni::hostGoingAwayAndBack()
{
    qsizetype before = m_watcher->items().size();
    TrayManager tray;
    QVERIFY(!waitForNewItem(before).isEmpty());
    QSignalSpy changed(&tray, &TrayManager::trayAvailableChanged);

    unregisterWatcher();
    QTRY_VERIFY(!tray.trayAvailable());
    QVERIFY(!tray.trayIcon());

    before = m_watcher->items().size();
    QVERIFY(registerWatcher());
    QTRY_VERIFY(tray.trayAvailable());
    QVERIFY(tray.trayIcon());
    QVERIFY(!waitForNewItem(before).isEmpty());
    QCOMPARE(changed.count(), 2);
}

void TestTraySni::watcherAnswer_data()
{
    QTest::addColumn<bool>("hostRegistered");
    QTest::newRow("a host is there") << true;
    QTest::newRow("no host") << false;
}

// What the watcher says decides, not that it answered.
void TestTraySni::watcherAnswer()
{
    QFETCH(bool, hostRegistered);
    ScriptedWatcher *watcher = scriptedOwner(hostRegistered, false);
    QVERIFY(watcher);

    TrayHosts hosts;
    hosts.start();
    QTRY_VERIFY(hosts.known() && !hosts.statusNotifierPending());
    QCOMPARE(hosts.statusNotifier(), hostRegistered);
    QCOMPARE(watcher->asked(), 1);
}

// A watcher that takes its time (kded5 loading its modules): meanwhile there
// is no tray, and it is asked again until it answers; then the icon comes.
void TestTraySni::slowWatcherIsAskedUntilItAnswers()
{
    ScriptedWatcher *watcher = scriptedOwner(true, true);
    QVERIFY(watcher);

    TrayManager tray(TrayManager::IconTiming::OnShowIcon);
    tray.setHostTimeouts({100, 400});
    QSignalSpy changed(&tray, &TrayManager::trayAvailableChanged);
    tray.showIcon();
    // No answer in time: no tray for now, so the window goes to the taskbar...
    QTRY_VERIFY(tray.trayKnown());
    QVERIFY(!tray.trayAvailable());
    QVERIFY(!tray.trayIcon());
    QCOMPARE(changed.count(), 1);
    // ... and the question is asked again, each time waiting longer.
    QTRY_VERIFY(watcher->held() >= 3);

    watcher->release(true);
    QTRY_VERIFY(tray.trayAvailable());
    QVERIFY(tray.trayIcon());
    QCOMPARE(tray.iconHost(), TrayManager::Host::StatusNotifier);
    QCOMPARE(changed.count(), 2);             // which takes the window off the taskbar
    QTRY_COMPARE(watcher->items().size(), 1); // the icon registered with it
}

// The watcher changes hands while its answer is under way: the answer of the
// one that went is about a panel that is no more.
void TestTraySni::staleAnswerOfAnEarlierWatcherIsDropped()
{
    unregisterWatcher();
    ScriptedWatcher *first = scripted(kFirstWatcherConnection);
    ScriptedWatcher *second = scripted(kSecondWatcherConnection);
    QVERIFY(first && second);
    first->setAnswer(true, true);
    second->setAnswer(false, false);
    QVERIFY(takeWatcherName(kFirstWatcherConnection));

    TrayHosts hosts;
    hosts.setTimeouts({60000, 60000}); // the first question stays open
    hosts.start();
    QTRY_COMPARE(first->held(), 1);

    QVERIFY(QDBusConnection(kFirstWatcherConnection).unregisterService(kWatcherService));
    QVERIFY(takeWatcherName(kSecondWatcherConnection));
    QTRY_COMPARE(second->asked(), 1);
    QTRY_VERIFY(hosts.known() && !hosts.statusNotifierPending());
    QVERIFY(!hosts.statusNotifier());

    // The first now answers its old question. Its answer has been handled
    // once a later call to it has been answered: the bus keeps the order.
    first->release(true);
    QDBusPendingCall ping = QDBusConnection::sessionBus().asyncCall(
        QDBusMessage::createMethodCall(
            QDBusConnection(kFirstWatcherConnection).baseService(), QStringLiteral("/"),
            QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
        10000);
    QDBusPendingCallWatcher pinged(ping);
    bool answered = false;
    connect(&pinged, &QDBusPendingCallWatcher::finished, this, [&] { answered = true; });
    QTRY_VERIFY(answered);
    QVERIFY(!ping.isError());
    QVERIFY(!hosts.statusNotifier());
}

// A notification service that fails the text it was given while a newer one
// waited: the fallback shows the newer one; the failed one is old news.
void TestTraySni::failedNotificationFallsBackToTheNewestText()
{
    FailingNotifications *service = nullptr;
    QVERIFY(registerVirtual(kFirstWatcherConnection,
                            QStringLiteral("/org/freedesktop/Notifications"),
                            [&service] { return service = new FailingNotifications; }));
    QVERIFY(QDBusConnection(kFirstWatcherConnection).registerService(kNotificationsService));

    QStringList shown;
    DesktopNotifier notifier(QDBusConnection::sessionBus(), QStringLiteral("app.example"),
                             QImage());
    notifier.setFallback([&](const QString &, const QString &message) { shown << message; });
    notifier.notify(QStringLiteral("Kestrix"), QStringLiteral("Reconnecting"));
    QTRY_COMPARE(service->held(), 1);
    notifier.notify(QStringLiteral("Kestrix"), QStringLiteral("Protected"));
    service->failAll();
    QTRY_COMPARE(shown, QStringList{"Protected"});
    QCOMPARE(service->held(), 0); // not sent again to what just failed
}

// The bus of this run starts nothing: a notification service the machine
// has installed (here one planted in the data folder) stays out of it.
void TestTraySni::privateBusActivatesNothing()
{
    const QString planted =
        qEnvironmentVariable("XDG_DATA_HOME") +
        QStringLiteral("/dbus-1/services/org.freedesktop.Notifications.service");
    QVERIFY2(QFile::exists(planted), qPrintable(planted));
    const QDBusMessage reply =
        call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
             QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"));
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    const QStringList names = reply.arguments().value(0).toStringList();
    QVERIFY2(!names.contains(kNotificationsService), qPrintable(names.join(u' ')));
}

namespace {

// A private session bus for the whole run, set up before the application
// object exists so that nothing reaches another bus first.
struct PrivateBus
{
    pid_t pid = 0;
    QByteArray address;

    bool start(const QString &config)
    {
        if (!QuietBus::writeConfig(config, "unix:tmpdir=/tmp"))
            return false;
        const QByteArray command = "dbus-daemon --fork --print-address=1 --print-pid=1 "
                                   "--config-file='" +
                                   QFile::encodeName(config) + '\'';
        FILE *out = popen(command.constData(), "r");
        if (!out)
            return false;
        char line[512];
        if (fgets(line, sizeof line, out))
            address = QByteArray(line).trimmed();
        if (fgets(line, sizeof line, out))
            pid = pid_t(QByteArray(line).trimmed().toLongLong());
        pclose(out);
        return !address.isEmpty() && pid > 0;
    }
    ~PrivateBus()
    {
        if (pid > 0)
            ::kill(pid, SIGTERM);
    }
};

} // namespace

// GNOME's AppIndicator extension also holds the X11 tray selection. Qt then
// makes a StatusNotifierItem, so the icon must not be made (without its menu)
// on the X11 answer alone, which comes before the session bus's.
void TestTraySni::bothKindsOfTrayGetTheMenu()
{
    if (!qEnvironmentVariableIsSet("KESTRIX_TEST_XEMBED_TRAY"))
        QSKIP("needs an X11 system tray beside the fake panel (tst_traysni_xembed)");
    QVERIFY(registerWatcher());
    const qsizetype before = m_watcher->items().size();
    TrayManager tray;
    const QString item = waitForNewItem(before);
    QVERIFY2(!item.isEmpty(), "the icon did not register with the watcher");
    QCOMPARE(tray.iconHost(), TrayManager::Host::StatusNotifier);
    const QDBusObjectPath menuPath =
        itemProperty(item, QStringLiteral("Menu")).value<QDBusObjectPath>();
    QVERIFY2(menuPath.path() != QLatin1String("/NO_DBUSMENU"), qPrintable(menuPath.path()));
}

// Cinnamon and MATE start their X11 tray a moment before their watcher: the
// icon waits for the watcher, and is the StatusNotifierItem it asks for.
void TestTraySni::xembedTrayWaitsForTheWatcher()
{
    if (!qEnvironmentVariableIsSet("KESTRIX_TEST_XEMBED_TRAY"))
        QSKIP("needs an X11 system tray beside the fake panel (tst_traysni_settle)");
    unregisterWatcher();
    TrayManager tray(TrayManager::IconTiming::OnShowIcon);
    tray.setSettleTime(60000); // the watcher comes within it, however slow the machine
    tray.showIcon();
    QTRY_VERIFY(tray.trayKnown() && tray.trayAvailable()); // the X11 tray
    QVERIFY(!tray.trayIcon());

    const qsizetype before = m_watcher->items().size();
    QVERIFY(registerWatcher());
    const QString item = waitForNewItem(before);
    QVERIFY2(!item.isEmpty(), "the icon did not register with the watcher");
    QCOMPARE(tray.iconHost(), TrayManager::Host::StatusNotifier);
}

// A watcher that is there but slow to answer (kded5 loading its modules,
// beside an X11 tray): the icon waits for its answer, whatever the moment.
void TestTraySni::xembedTrayWaitsForASlowWatcher()
{
    if (!qEnvironmentVariableIsSet("KESTRIX_TEST_XEMBED_TRAY"))
        QSKIP("needs an X11 system tray beside the fake panel (tst_traysni_settle_slow)");
    ScriptedWatcher *watcher = scriptedOwner(true, true);
    QVERIFY(watcher);

    TrayManager tray(TrayManager::IconTiming::OnShowIcon);
    tray.setHostTimeouts({100, 200});
    tray.setSettleTime(0);
    tray.showIcon();
    // Known (the first question timed out) and asked twice more since: the
    // moment has long passed.
    QTRY_VERIFY(watcher->held() >= 3);
    QVERIFY(tray.trayKnown() && tray.trayAvailable());
    QVERIFY(!tray.trayIcon());

    watcher->release(true);
    QTRY_VERIFY(tray.trayIcon());
    QCOMPARE(tray.iconHost(), TrayManager::Host::StatusNotifier);
    QTRY_COMPARE(watcher->items().size(), 1);
}

// Without a watcher the X11 tray gets the icon once the moment has passed.
void TestTraySni::xembedTrayAloneGetsTheIconAfterAMoment()
{
    if (!qEnvironmentVariableIsSet("KESTRIX_TEST_XEMBED_TRAY"))
        QSKIP("needs an X11 system tray (tst_traysni_settle_alone)");
    unregisterWatcher();
    TrayManager tray(TrayManager::IconTiming::OnShowIcon);
    tray.setSettleTime(300);
    tray.showIcon();
    QTRY_VERIFY_WITH_TIMEOUT(tray.trayIcon(), 20000);
    QCOMPARE(tray.iconHost(), TrayManager::Host::XEmbed);
}

int main(int argc, char *argv[])
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
        std::fprintf(stderr, "SKIP: dbus-daemon is not installed\n");
        return KestrixTest::kSkipExitCode;
    }
    // A notification service that a bus reading the machine's session.conf
    // would activate, as it would dunst or Plasma's: this run's bus must not.
    QTemporaryDir home;
    const QString services = home.filePath(QStringLiteral("data/dbus-1/services"));
    QFile planted(services + QStringLiteral("/org.freedesktop.Notifications.service"));
    if (!home.isValid() || !QDir().mkpath(services) || !planted.open(QIODevice::WriteOnly) ||
        planted.write(
            "[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/sleep 30\n") <= 0) {
        std::fprintf(stderr, "FAIL: cannot plant the notification service\n");
        return 1;
    }
    planted.close();
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    PrivateBus bus;
    if (!bus.start(home.filePath(QStringLiteral("bus.conf")))) {
        std::fprintf(stderr, "FAIL: dbus-daemon did not start\n");
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address);
    qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    int result = 0;
    {
        QApplication app(argc, argv);
        // The fake desktop's own connection, not the application's.
        for (const QString &name :
             {kFakeConnection, kFirstWatcherConnection, kSecondWatcherConnection})
            QDBusConnection::connectToBus(QString::fromLatin1(bus.address), name);
        TestTraySni test;
        result = KestrixTest::exec(&test, argc, argv);
    }
    return result;
}

#include "tst_traysni.moc"
