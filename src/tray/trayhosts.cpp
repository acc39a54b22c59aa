#include "tray/trayhosts.h"

#include <QGuiApplication>
#include <QSystemTrayIcon>

#include <utility>

#ifdef KESTRIX_XCB
#include <QAbstractNativeEventFilter>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#endif

#ifdef KESTRIX_DBUS
#include "tray/sessionbus.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#endif

namespace {

#ifdef KESTRIX_DBUS
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");

// A watcher that has not answered in time is still there (kded5 answers only
// once it has loaded its modules): the question is asked again. Any other
// error is the watcher's answer, and means no host.
bool timedOut(const QDBusError &error)
{
    return error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout ||
           error.type() == QDBusError::TimedOut;
}
#endif

bool isXcb()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

#ifdef KESTRIX_XCB
// Follows the XEmbed tray selection of the X screen the way Qt's own tray
// icon does, without it: a tray manager announces itself with a MANAGER
// message to the root window, and its window's end is its going.
class TrayHosts::X11Watch : public QAbstractNativeEventFilter
{
public:
    explicit X11Watch(TrayHosts *hosts) : m_hosts(hosts)
    {
        auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        m_connection = x11 ? x11->connection() : nullptr;
        if (!m_connection)
            return;
        // The X screen of DISPLAY (":0.1" is screen 1); nearly always 0.
        int screen = 0;
        const QByteArray display = qgetenv("DISPLAY");
        const qsizetype dot = display.lastIndexOf('.');
        if (dot > display.lastIndexOf(':'))
            screen = qBound(0, display.mid(dot + 1).toInt(), 255);
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screen && it.rem > 1; ++i)
            xcb_screen_next(&it);
        if (!it.data)
            return;
        m_root = it.data->root;
        m_selection = atom("_NET_SYSTEM_TRAY_S" + QByteArray::number(screen));
        m_manager = atom("MANAGER");
        // MANAGER goes to the root window's StructureNotify listeners: add
        // that to what Qt already listens for there.
        xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, m_root), nullptr);
        const uint32_t mask =
            (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        std::free(attributes);
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        qGuiApp->installNativeEventFilter(this);
    }
    ~X11Watch() override
    {
        if (m_connection && qGuiApp)
            qGuiApp->removeNativeEventFilter(this);
    }

    // Whether a tray manager owns the selection now (two round trips).
    bool trayPresent()
    {
        if (!m_connection || m_selection == XCB_ATOM_NONE)
            return false;
        xcb_get_selection_owner_reply_t *reply = xcb_get_selection_owner_reply(
            m_connection, xcb_get_selection_owner(m_connection, m_selection), nullptr);
        const xcb_window_t owner = reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
        std::free(reply);
        if (owner != m_owner && owner != XCB_WINDOW_NONE) {
            // Told when that window goes, as when the tray ends.
            const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(m_connection, owner, XCB_CW_EVENT_MASK, &mask);
            xcb_flush(m_connection);
        }
        m_owner = owner;
        return owner != XCB_WINDOW_NONE;
    }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        bool relevant = false;
        switch (event->response_type & 0x7f) {
        case XCB_CLIENT_MESSAGE: {
            const auto *client = reinterpret_cast<const xcb_client_message_event_t *>(event);
            relevant = client->type == m_manager && client->data.data32[1] == m_selection;
            break;
        }
        case XCB_DESTROY_NOTIFY:
            relevant =
                m_owner != XCB_WINDOW_NONE &&
                reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window == m_owner;
            break;
        default:
            break;
        }
        if (relevant) // looked at after the event, never inside Qt's event handling
            QMetaObject::invokeMethod(m_hosts, &TrayHosts::refreshXEmbed, Qt::QueuedConnection);
        return false;
    }

private:
    xcb_atom_t atom(const QByteArray &name)
    {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            m_connection,
            xcb_intern_atom(m_connection, false, uint16_t(name.size()), name.constData()), nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return result;
    }

    TrayHosts *m_hosts;
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    xcb_window_t m_owner = XCB_WINDOW_NONE;
    xcb_atom_t m_selection = XCB_ATOM_NONE;
    xcb_atom_t m_manager = XCB_ATOM_NONE;
};
#else
class TrayHosts::X11Watch
{
};
#endif

struct TrayHosts::Bus
{
#ifdef KESTRIX_DBUS
    QDBusConnection connection = SessionBus::connection();
    QDBusServiceWatcher *watcher = nullptr;
#endif
};

TrayHosts::TrayHosts(QObject *parent) : QObject(parent) {}

TrayHosts::~TrayHosts()
{
    delete m_bus;
}

void TrayHosts::start()
{
    if (m_started)
        return;
    m_started = true;
#ifdef KESTRIX_XCB
    if (isXcb())
        m_x11 = std::make_unique<X11Watch>(this);
#endif
    refreshXEmbed();

    m_bus = new Bus;
#ifdef KESTRIX_DBUS
    if (m_bus->connection.isConnected()) {
        m_busConnected = true;
        m_bus->watcher = new QDBusServiceWatcher(kWatcherService, m_bus->connection,
                                                 QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_bus->watcher, &QDBusServiceWatcher::serviceRegistered, this,
                &TrayHosts::queryStatusNotifierHost);
        connect(m_bus->watcher, &QDBusServiceWatcher::serviceUnregistered, this,
                &TrayHosts::onWatcherGone);
        // A host may register with a watcher that was there before it.
        m_bus->connection.connect(kWatcherService, kWatcherPath, kWatcherInterface,
                                  QStringLiteral("StatusNotifierHostRegistered"), this,
                                  SLOT(queryStatusNotifierHost()));
        m_bus->connection.connect(kWatcherService, kWatcherPath, kWatcherInterface,
                                  QStringLiteral("StatusNotifierHostUnregistered"), this,
                                  SLOT(queryStatusNotifierHost()));
        queryStatusNotifierHost();
        return;
    }
#endif
    m_known = true; // no session bus: what X11 (or the platform) says is all there is
    emit changed();
}

void TrayHosts::refreshXEmbed()
{
    if (!m_started)
        return;
    bool present = false;
    if (isXcb()) {
#ifdef KESTRIX_XCB
        // Asking QSystemTrayIcon instead would settle Qt's choice of tray.
        present = m_x11 && m_x11->trayPresent();
#endif
    } else {
#ifndef KESTRIX_DBUS
        // Windows: the notification area is always there.
        present = QSystemTrayIcon::isSystemTrayAvailable();
#endif
    }
    if (present == m_xembed)
        return;
    m_xembed = present;
    emit changed();
}

void TrayHosts::queryStatusNotifierHost()
{
    ++m_generation; // whatever is still open was asked of what may be gone
    ask(m_timeouts.firstQueryTimeoutMs);
}

void TrayHosts::ask(int timeoutMs)
{
#ifdef KESTRIX_DBUS
    const int generation = m_generation;
    m_pending = true;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    auto *call = new QDBusPendingCallWatcher(m_bus->connection.asyncCall(get, timeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, generation, timeoutMs](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *finished;
                if (reply.isError() && timedOut(reply.error())) {
                    onQueryTimedOut(generation, timeoutMs);
                    return;
                }
                // No watcher, or one that cannot say, is no host.
                setStatusNotifier(reply.isValid() && reply.value().variant().toBool(), generation);
            });
#else
    Q_UNUSED(timeoutMs)
#endif
}

void TrayHosts::onQueryTimedOut(int generation, int timeoutMs)
{
    if (generation != m_generation)
        return; // asked again meanwhile, or the watcher went
    // Until the first answer comes, no host is what there is: the window
    // must not wait for a tray that may never come.
    if (!m_known) {
        m_known = true;
        emit changed();
    }
    ask(qMin(qMax(timeoutMs, 1) * 2, qMax(m_timeouts.longestQueryTimeoutMs, 1)));
}

void TrayHosts::onWatcherGone()
{
    setStatusNotifier(false, ++m_generation);
}

void TrayHosts::setStatusNotifier(bool present, int generation)
{
    if (generation != m_generation)
        return;
    const bool wasPending = std::exchange(m_pending, false);
    if (present == m_statusNotifier && m_known && !wasPending)
        return;
    m_statusNotifier = present;
    m_known = true;
    emit changed();
}
