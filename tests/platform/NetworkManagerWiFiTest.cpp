#include <map>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include "platform/NetworkManagerWiFi.h"

namespace tessaly {
namespace {

const QString kDevices = QStringLiteral("/org/freedesktop/NetworkManager/Devices/");
const QString kAccessPoints = QStringLiteral("/org/freedesktop/NetworkManager/AccessPoint/");
const QString kDevice = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kWireless = QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless");
const QString kAccessPoint = QStringLiteral("org.freedesktop.NetworkManager.AccessPoint");

// A stand-in NetworkManager answering GetDevices and Properties.Get from tables. It
// lives on its own thread: the code under test blocks the test thread while it asks.
class FakeNetworkManager : public QDBusVirtualObject {
public:
    QList<QDBusObjectPath> devices;
    std::map<std::tuple<QString, QString, QString>, QVariant> properties; // path, interface, name
    bool silent = false;

    void addWiFiDevice(int number, const QString& name, const QString& accessPoint)
    {
        const QString path = kDevices + QString::number(number);
        devices.append(QDBusObjectPath(path));
        properties[{ path, kDevice, QStringLiteral("DeviceType") }] = QVariant::fromValue(uint(2));
        properties[{ path, kDevice, QStringLiteral("Interface") }] = name;
        properties[{ path, kWireless, QStringLiteral("ActiveAccessPoint") }]
            = QVariant::fromValue(QDBusObjectPath(accessPoint));
    }
    void addWiredDevice(int number)
    {
        const QString path = kDevices + QString::number(number);
        devices.append(QDBusObjectPath(path));
        properties[{ path, kDevice, QStringLiteral("DeviceType") }] = QVariant::fromValue(uint(1));
        properties[{ path, kDevice, QStringLiteral("Interface") }] = QStringLiteral("eth0");
    }
    void addAccessPoint(int number, uint frequency, uchar strength)
    {
        const QString path = kAccessPoints + QString::number(number);
        properties[{ path, kAccessPoint, QStringLiteral("Frequency") }] = QVariant::fromValue(frequency);
        properties[{ path, kAccessPoint, QStringLiteral("Strength") }] = QVariant::fromValue(strength);
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (silent)
            return true;
        if (message.member() == QLatin1String("GetDevices")) {
            connection.send(message.createReply(QVariant::fromValue(devices)));
            return true;
        }
        if (message.member() == QLatin1String("Get") && message.arguments().size() == 2) {
            const auto found = properties.find(
                { message.path(), message.arguments()[0].toString(), message.arguments()[1].toString() });
            if (found != properties.end()) {
                connection.send(message.createReply(QVariant::fromValue(QDBusVariant(found->second))));
                return true;
            }
        }
        connection.send(
            message.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("no such thing")));
        return true;
    }
};

// A private message bus (dbus-daemon) in a temporary folder, for this test only.
class PrivateBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/dbus-daemon")))
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(m_folder.isValid());
        const QString config = m_folder.path() + QStringLiteral("/bus.conf");
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:path="
            + m_folder.path().toUtf8()
            + "/bus</listen><auth>EXTERNAL</auth>"
              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
              "</busconfig>\n");
        file.close();
        m_daemon.start(QStringLiteral("/usr/bin/dbus-daemon"),
            { QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                QStringLiteral("--config-file=") + config });
        ASSERT_TRUE(m_daemon.waitForStarted(5000));
        ASSERT_TRUE(m_daemon.waitForReadyRead(5000));
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        ASSERT_FALSE(m_address.isEmpty());
        m_client = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_address, clientName()));
        ASSERT_TRUE(m_client->isConnected());
    }

    void TearDown() override
    {
        if (m_serviceThread.isRunning()) {
            QDBusConnection::disconnectFromBus(serviceName());
            m_serviceThread.quit();
            m_serviceThread.wait();
        }
        m_client.reset();
        QDBusConnection::disconnectFromBus(clientName());
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }

    // Puts the fake on the bus, then on its own thread; the test leaves it alone afterwards.
    void serve()
    {
        QDBusConnection service = QDBusConnection::connectToBus(m_address, serviceName());
        ASSERT_TRUE(service.isConnected());
        ASSERT_TRUE(service.registerVirtualObject(
            QStringLiteral("/org/freedesktop/NetworkManager"), &m_fake, QDBusConnection::SubPath));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.NetworkManager")));
        m_serviceThread.start();
        m_fake.moveToThread(&m_serviceThread);
    }

    QString clientName() const { return QStringLiteral("tessaly-test-client"); }
    QString serviceName() const { return QStringLiteral("tessaly-test-networkmanager"); }

    QTemporaryDir m_folder;
    QProcess m_daemon;
    QString m_address;
    std::unique_ptr<QDBusConnection> m_client;
    QThread m_serviceThread;
    FakeNetworkManager m_fake; // destroyed before the thread object, after TearDown stopped it
};

TEST_F(PrivateBusTest, ConnectedWiFiDeviceGivesItsAccessPoint)
{
    FakeNetworkManager fake;
    m_fake.addWiredDevice(1);
    m_fake.addWiFiDevice(2, QStringLiteral("wlp3s0"), QStringLiteral("/")); // not connected
    m_fake.addWiFiDevice(3, QStringLiteral("wlp2s0"), kAccessPoints + QStringLiteral("7"));
    m_fake.addAccessPoint(7, 5180, 70);
    serve();

    const auto link = NetworkManagerWiFi::activeLink(*m_client, 2000);
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(link->interfaceName, "wlp2s0");
    EXPECT_EQ(link->frequencyMHz, 5180u);
    EXPECT_EQ(link->strengthPercent, 70);
}

TEST_F(PrivateBusTest, NoConnectedWiFiDeviceGivesNone)
{
    FakeNetworkManager fake;
    m_fake.addWiredDevice(1);
    m_fake.addWiFiDevice(2, QStringLiteral("wlp3s0"), QStringLiteral("/"));
    // An access point that vanished between the two questions.
    m_fake.addWiFiDevice(3, QStringLiteral("wlp2s0"), kAccessPoints + QStringLiteral("9"));
    serve();
    EXPECT_EQ(NetworkManagerWiFi::activeLink(*m_client, 2000), std::nullopt);
}

TEST_F(PrivateBusTest, NetworkManagerNotRunningGivesNone)
{
    EXPECT_EQ(NetworkManagerWiFi::activeLink(*m_client, 2000), std::nullopt);
}

TEST_F(PrivateBusTest, NetworkManagerThatDoesNotAnswerGivesNoneWithinTheBudget)
{
    FakeNetworkManager fake;
    m_fake.silent = true;
    serve();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(NetworkManagerWiFi::activeLink(*m_client, 300), std::nullopt);
    EXPECT_LT(clock.elapsed(), 1500);
}

TEST(NetworkManagerWiFiTest, NoBusGivesNone)
{
    const QDBusConnection nowhere = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/tessaly-test-bus"), QStringLiteral("tessaly-test-nowhere"));
    EXPECT_EQ(NetworkManagerWiFi::activeLink(nowhere), std::nullopt);
    QDBusConnection::disconnectFromBus(QStringLiteral("tessaly-test-nowhere"));
}

} // namespace
} // namespace tessaly
