#include "platform/FreedesktopNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

namespace tessaly {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage call(const QString& method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

// Calls back with the reply once it arrives (or fails), on this thread.
template <typename Reply>
void whenAnswered(const QDBusPendingCall& pending, std::function<void(const Reply&)> done)
{
    auto* watcher = new QDBusPendingCallWatcher(pending);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(Reply(*watcher));
    });
}

// Names and texts come from the phone: some servers read markup in the body whether or not
// they announce it, so "<" or "&" must never reach them unescaped.
QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('&'))
            out += QStringLiteral("&amp;");
        else if (c == QLatin1Char('<'))
            out += QStringLiteral("&lt;");
        else if (c == QLatin1Char('>'))
            out += QStringLiteral("&gt;");
        else
            out += c;
    }
    return out;
}

} // namespace

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection bus, QObject* parent)
    : DesktopNotifications(parent)
    , m_bus(std::move(bus))
{
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
        SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(
        kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));
}

void FreedesktopNotifications::capabilities(std::function<void(std::optional<QStringList>)> answer)
{
    if (!m_bus.isConnected()) {
        answer(std::nullopt);
        return;
    }
    whenAnswered<QDBusPendingReply<QStringList>>(
        m_bus.asyncCall(call(QStringLiteral("GetCapabilities")), kCallTimeoutMs),
        [answer = std::move(answer)](const QDBusPendingReply<QStringList>& reply) {
            answer(reply.isValid() ? std::optional(reply.value()) : std::nullopt);
        });
}

void FreedesktopNotifications::notify(
    quint32 replaces, const Notice& notice, std::function<void(std::optional<quint32> id)> shown)
{
    if (!m_bus.isConnected()) {
        shown(std::nullopt);
        return;
    }
    QStringList actions;
    for (const auto& [key, label] : notice.actions)
        actions << key << label;
    QVariantMap hints;
    // Lets the desktop show the notice under the application's name and settings.
    if (!QGuiApplication::desktopFileName().isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    if (!notice.category.isEmpty())
        hints.insert(QStringLiteral("category"), notice.category);
    if (notice.progress >= 0)
        hints.insert(QStringLiteral("value"), notice.progress);
    QDBusMessage message = call(QStringLiteral("Notify"));
    message.setArguments({ QStringLiteral("Tessaly"), QVariant::fromValue<uint>(replaces),
        QStringLiteral("tessaly"), notice.summary, escaped(notice.body), actions, hints,
        QVariant::fromValue<int>(notice.expireMs) });
    whenAnswered<QDBusPendingReply<uint>>(m_bus.asyncCall(message, kCallTimeoutMs),
        [shown = std::move(shown)](const QDBusPendingReply<uint>& reply) {
            shown(reply.isValid() ? std::optional<quint32>(reply.value()) : std::nullopt);
        });
}

void FreedesktopNotifications::close(quint32 id)
{
    QDBusMessage message = call(QStringLiteral("CloseNotification"));
    message.setArguments({ QVariant::fromValue<uint>(id) });
    m_bus.asyncCall(message, kCallTimeoutMs);
}

void FreedesktopNotifications::onActionInvoked(uint id, const QString& key)
{
    emit actionInvoked(id, key);
}

void FreedesktopNotifications::onClosed(uint id, uint)
{
    emit closed(id);
}

} // namespace tessaly

// The interface has no source file of its own to carry its signals.
#include "moc_DesktopNotifications.cpp"
