#include "platform/NetworkManagerWiFi.h"

#include <algorithm>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QList>

namespace tessaly::NetworkManagerWiFi {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kDeviceInterface = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kWirelessInterface = QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless");
const QString kAccessPointInterface = QStringLiteral("org.freedesktop.NetworkManager.AccessPoint");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

constexpr uint kDeviceTypeWiFi = 2; // NM_DEVICE_TYPE_WIFI
constexpr qsizetype kDeviceLimit = 64;

// Blocking calls with a shared deadline; the first failure or time-out ends the query.
class Caller {
public:
    Caller(const QDBusConnection& bus, int budgetMs)
        : m_bus(bus)
        , m_deadline(budgetMs)
    {
    }

    std::optional<QVariant> call(const QString& path, const QString& interface, const QString& method,
        const QVariantList& arguments, const QString& service = kService)
    {
        const qint64 remaining = m_deadline.remainingTime();
        if (remaining <= 0)
            return std::nullopt;
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        // Asking must never start NetworkManager.
        message.setAutoStartService(false);
        const QDBusMessage reply = m_bus.call(message, QDBus::Block, static_cast<int>(remaining));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return std::nullopt;
        return reply.arguments().constFirst();
    }

    std::optional<QVariant> property(const QString& path, const QString& interface, const QString& name)
    {
        const auto value = call(path, kPropertiesInterface, QStringLiteral("Get"), { interface, name });
        if (!value || !value->canConvert<QDBusVariant>())
            return std::nullopt;
        return value->value<QDBusVariant>().variant();
    }

private:
    QDBusConnection m_bus;
    QDeadlineTimer m_deadline;
};

std::optional<uint> unsignedValue(const std::optional<QVariant>& value)
{
    if (!value)
        return std::nullopt;
    switch (value->typeId()) {
    case QMetaType::UInt:
    case QMetaType::UChar:
    case QMetaType::UShort:
        return value->toUInt();
    default:
        return std::nullopt;
    }
}

std::optional<QDBusObjectPath> objectPath(const std::optional<QVariant>& value)
{
    if (!value || value->typeId() != qMetaTypeId<QDBusObjectPath>())
        return std::nullopt;
    return value->value<QDBusObjectPath>();
}

QList<QDBusObjectPath> objectPaths(const QVariant& value)
{
    if (value.typeId() == qMetaTypeId<QList<QDBusObjectPath>>())
        return value.value<QList<QDBusObjectPath>>();
    if (value.typeId() != qMetaTypeId<QDBusArgument>())
        return {};
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("ao"))
        return {};
    return qdbus_cast<QList<QDBusObjectPath>>(argument);
}

std::optional<ActiveLink> linkOfDevice(Caller& caller, const QString& device)
{
    const auto type = unsignedValue(caller.property(device, kDeviceInterface, QStringLiteral("DeviceType")));
    if (type != kDeviceTypeWiFi)
        return std::nullopt;
    const auto accessPoint
        = objectPath(caller.property(device, kWirelessInterface, QStringLiteral("ActiveAccessPoint")));
    // "/" is NetworkManager's "no access point".
    if (!accessPoint || accessPoint->path() == QLatin1String("/"))
        return std::nullopt;
    const auto frequency = unsignedValue(
        caller.property(accessPoint->path(), kAccessPointInterface, QStringLiteral("Frequency")));
    if (!frequency)
        return std::nullopt;
    const auto strength = unsignedValue(
        caller.property(accessPoint->path(), kAccessPointInterface, QStringLiteral("Strength")));
    const auto name = caller.property(device, kDeviceInterface, QStringLiteral("Interface"));
    ActiveLink link;
    link.frequencyMHz = *frequency;
    link.strengthPercent = static_cast<int>(std::min<uint>(strength.value_or(0), 100));
    if (name && name->typeId() == QMetaType::QString)
        link.interfaceName = name->toString().toStdString();
    return link;
}

} // namespace

std::optional<ActiveLink> activeLink(const QDBusConnection& bus, int budgetMs)
{
    if (!bus.isConnected())
        return std::nullopt;
    Caller caller(bus, budgetMs);
    const auto running
        = caller.call(QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("NameHasOwner"), { kService }, QStringLiteral("org.freedesktop.DBus"));
    if (!running || running->typeId() != QMetaType::Bool || !running->toBool())
        return std::nullopt;
    const auto devices = caller.call(kManagerPath, kService, QStringLiteral("GetDevices"), {});
    if (!devices)
        return std::nullopt;
    const QList<QDBusObjectPath> paths = objectPaths(*devices);
    for (qsizetype index = 0; index < std::min(paths.size(), kDeviceLimit); ++index) {
        if (auto link = linkOfDevice(caller, paths[index].path()))
            return link;
    }
    return std::nullopt;
}

std::optional<ActiveLink> activeLink()
{
    return activeLink(QDBusConnection::systemBus());
}

int estimatedDbm(int strengthPercent)
{
    return -100 + std::clamp(strengthPercent, 0, 100) * 60 / 100;
}

} // namespace tessaly::NetworkManagerWiFi
