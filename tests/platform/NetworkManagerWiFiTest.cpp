#include <map>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include "platform/NetworkManagerWiFi.h"
#include "support/PrivateBus.h"

namespace tessaly {
namespace {

const QString kDevice = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kAccessPoint = QStringLiteral("/org/freedesktop/NetworkManager/AccessPoint/");

// A stand-in NetworkManager answering GetDevices and Properties.Get from tables. It runs on
// its own thread: the code under test blocks the test thread while it asks.
class FakeNetworkManager : public QDBusVirtualObject {
public:
    QList<QDBusObjectPath> devices;
    std::map<std::tuple<QString, QString, QString>, QVariant> properties; // path, interface, name
    bool silent = false;

    // Type 2 is Wi-Fi, 1 Ethernet; `accessPoint` "/" is none.
    void addDevice(uint type, const QString& name, const QString& accessPoint = QStringLiteral("/"))
    {
        const QString path = QStringLiteral("/org/freedesktop/NetworkManager/Devices/%1").arg(devices.size());
        devices.append(QDBusObjectPath(path));
        properties[{ path, kDevice, QStringLiteral("DeviceType") }] = QVariant::fromValue(type);
        properties[{ path, kDevice, QStringLiteral("Interface") }] = name;
        properties[{ path, kDevice + QStringLiteral(".Wireless"), QStringLiteral("ActiveAccessPoint") }]
            = QVariant::fromValue(QDBusObjectPath(accessPoint));
    }
    void addAccessPoint(const QString& path, uint frequency, uchar strength)
    {
        const QString interface = QStringLiteral("org.freedesktop.NetworkManager.AccessPoint");
        properties[{ path, interface, QStringLiteral("Frequency") }] = QVariant::fromValue(frequency);
        properties[{ path, interface, QStringLiteral("Strength") }] = QVariant::fromValue(strength);
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (silent)
            return true;
        if (message.member() == QLatin1String("GetDevices"))
            return connection.send(message.createReply(QVariant::fromValue(devices)));
        const auto args = message.arguments();
        const auto found = args.size() == 2
            ? properties.find({ message.path(), args[0].toString(), args[1].toString() })
            : properties.end();
        if (found != properties.end())
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(found->second))));
        return connection.send(message.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("none")));
    }
};

// The fake on a private message bus of its own.
class PrivateBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (m_bus.address().isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        m_address = m_bus.address();
        m_client = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_address, kClient));
        ASSERT_TRUE(m_client->isConnected());
    }

    void TearDown() override
    {
        if (m_serviceThread.isRunning()) {
            QDBusConnection::disconnectFromBus(kService);
            m_serviceThread.quit();
            m_serviceThread.wait();
        }
        m_client.reset();
        QDBusConnection::disconnectFromBus(kClient);
    }

    // Puts the fake on the bus, then on its own thread; the test leaves it alone afterwards.
    void serve()
    {
        QDBusConnection service = QDBusConnection::connectToBus(m_address, kService);
        ASSERT_TRUE(service.registerVirtualObject(
            QStringLiteral("/org/freedesktop/NetworkManager"), &m_fake, QDBusConnection::SubPath));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.NetworkManager")));
        m_serviceThread.start();
        m_fake.moveToThread(&m_serviceThread);
    }

    const QString kClient = QStringLiteral("tessaly-test-client");
    const QString kService = QStringLiteral("tessaly-test-networkmanager");
    test::PrivateBus m_bus;
    QString m_address;
    std::unique_ptr<QDBusConnection> m_client;
    QThread m_serviceThread;
    FakeNetworkManager m_fake; // destroyed before the thread object, after TearDown stopped it
};

TEST_F(PrivateBusTest, ConnectedWiFiDeviceGivesItsAccessPoint)
{
    m_fake.addDevice(1, QStringLiteral("eth0"));
    m_fake.addDevice(2, QStringLiteral("wlp3s0")); // not connected
    m_fake.addDevice(2, QStringLiteral("wlp2s0"), kAccessPoint + QStringLiteral("7"));
    serve();
    EXPECT_EQ(NetworkManagerWiFi::activeLink(*m_client, 2000), std::nullopt); // the access point is gone
    m_fake.addAccessPoint(kAccessPoint + QStringLiteral("7"), 5180, 70); // the fake is idle between calls
    const auto link = NetworkManagerWiFi::activeLink(*m_client, 2000);
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(link->interfaceName, "wlp2s0");
    EXPECT_EQ(link->frequencyMHz, 5180u);
    EXPECT_EQ(link->strengthPercent, 70);
}

TEST_F(PrivateBusTest, NoBusAbsentOrSilentNetworkManagerGivesNoneWithinTheBudget)
{
    EXPECT_EQ(NetworkManagerWiFi::activeLink(*m_client, 2000), std::nullopt);
    const auto nowhere
        = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), QStringLiteral("x"));
    EXPECT_EQ(NetworkManagerWiFi::activeLink(nowhere), std::nullopt);
    QDBusConnection::disconnectFromBus(QStringLiteral("x"));
    m_fake.silent = true;
    serve();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(NetworkManagerWiFi::activeLink(*m_client, 300), std::nullopt);
    EXPECT_LT(clock.elapsed(), 1500);
}

} // namespace
} // namespace tessaly
