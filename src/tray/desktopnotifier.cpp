#include "tray/desktopnotifier.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QIcon>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
// A service that does not answer in this time is taken to be missing.
constexpr int kCallTimeoutMs = 5000;
// Large enough for any banner, small enough for the message (16 KiB).
constexpr int kImageSize = 64;

// The "image-data" hint: (iiibiiay), width, height, bytes per row, alpha,
// bits per sample, channels, RGBA bytes.
struct ImageData
{
    QImage rgba;
};

} // namespace

Q_DECLARE_METATYPE(ImageData)

namespace {

QDBusArgument &operator<<(QDBusArgument &argument, const ImageData &image)
{
    const QImage &rgba = image.rgba;
    argument.beginStructure();
    argument << rgba.width() << rgba.height() << int(rgba.bytesPerLine()) << true << 8 << 4
             << QByteArray(reinterpret_cast<const char *>(rgba.constBits()),
                           qsizetype(rgba.sizeInBytes()));
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, ImageData &)
{
    return argument; // only ever sent
}

} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QString appId, const QImage &icon, QObject *parent)
    : QObject(parent), m_bus(std::move(bus)), m_appId(std::move(appId))
{
    if (!icon.isNull())
        m_icon = icon.scaled(kImageSize, kImageSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                     .convertToFormat(QImage::Format_RGBA8888);
    qDBusRegisterMetaType<ImageData>();
}

void DesktopNotifier::notify(const QString &title, const QString &message)
{
    if (!m_bus.isConnected()) {
        fallBack({title, message});
        return;
    }
    if (m_pending) {
        m_queued = Text{title, message}; // only the latest matters
        return;
    }
    send({title, message});
}

void DesktopNotifier::send(const Text &text)
{
    // The installed icon by name when the theme has it; its pixels otherwise.
    const bool themed = !m_appId.isEmpty() && QIcon::hasThemeIcon(m_appId);
    QVariantMap hints{
        {QStringLiteral("desktop-entry"), m_appId},
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}, // normal
    };
    if (!themed && !m_icon.isNull())
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(ImageData{m_icon}));

    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << QStringLiteral("Kestrix") << m_lastId << (themed ? m_appId : QString()) << text.title
         << text.message << QStringList() << hints << int(kTimeoutMs);

    m_pending = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, text](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                m_pending = false;
                const QDBusPendingReply<uint> reply = *finished;
                std::optional<Text> next = std::exchange(m_queued, std::nullopt);
                if (reply.isError()) {
                    // No service (or a broken one): the latest text another way.
                    fallBack(next.value_or(text));
                    return;
                }
                m_lastId = reply.value();
                if (next)
                    send(*next);
            });
}

void DesktopNotifier::fallBack(const Text &text)
{
    if (m_fallback)
        m_fallback(text.title, text.message);
}
