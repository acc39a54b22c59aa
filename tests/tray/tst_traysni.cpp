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
#include "tray/traymanager.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QMutex>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "testmain.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/types.h>

namespace {

const QString kFakeConnection = QStringLiteral("kestrix-fake-desktop");
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kNotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

} // namespace

// The panel's watcher, with a host registered.
class FakeWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const
    {
        QMutexLocker lock(&m_mutex);
        return m_items;
    }

public slots:
    void RegisterStatusNotifierItem(const QString &service)
    {
        {
            QMutexLocker lock(&m_mutex);
            m_items << service;
        }
        emit StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString &) {}

signals:
    void StatusNotifierItemRegistered(const QString &service);
    void StatusNotifierHostRegistered();

private:
    mutable QMutex m_mutex;
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
    void bothKindsOfTrayGetTheMenu();

private:
    QDBusConnection fake() const { return QDBusConnection(kFakeConnection); }
    bool registerWatcher();
    void unregisterWatcher();
    // The item that registered after `before` items; empty if none came.
    QString waitForNewItem(qsizetype before);
    QDBusMessage call(const QString &service, const QString &path, const QString &interface,
                      const QString &method, const QVariantList &args = {});
    QVariant itemProperty(const QString &item, const QString &name);

    QThread m_thread;
    QObject *m_context = nullptr;
    FakeWatcher *m_watcher = nullptr;
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
            m_watcher = new FakeWatcher;
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
    QDBusConnection::disconnectFromBus(kFakeConnection);
}

void TestTraySni::cleanup()
{
    // Each test brings the notification service it wants.
    fake().unregisterService(kNotificationsService);
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
    QCOMPARE(first.urgency.typeId(), QMetaType::UChar); // a byte on the wire, as the notification protocol has it
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

namespace {

// A private session bus for the whole run, set up before the application
// object exists so that nothing reaches another bus first.
struct PrivateBus
{
    pid_t pid = 0;
    QByteArray address;

    bool start()
    {
        FILE *out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 "
                          "--address=unix:tmpdir=/tmp",
                          "r");
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

int main(int argc, char *argv[])
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
        std::fprintf(stderr, "SKIP: dbus-daemon is not installed\n");
        return KestrixTest::kSkipExitCode;
    }
    PrivateBus bus;
    if (!bus.start()) {
        std::fprintf(stderr, "FAIL: dbus-daemon did not start\n");
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address);
    qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    int result = 0;
    {
        QApplication app(argc, argv);
        // The fake desktop's own connection, not the application's.
        QDBusConnection::connectToBus(QString::fromLatin1(bus.address), kFakeConnection);
        TestTraySni test;
        result = KestrixTest::exec(&test, argc, argv);
    }
    return result;
}

#include "tst_traysni.moc"
