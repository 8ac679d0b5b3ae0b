#include <fstream>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "controller/MacNetwork.h"
#include "controller/NetworkInfo.h"

namespace tessaly {
namespace {

using MacNetwork::DefaultRoute;

// /proc/net/route of a laptop on Ethernet (metric 100) and Wi-Fi (metric 600).
constexpr const char* kWiredAndWiFi
    = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT           \n"
      "enp0s31f6\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0                                 \n"
      "wlp2s0\t00000000\t012BA8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0                                   \n"
      "enp0s31f6\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0                                 \n"
      "wlp2s0\t002BA8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0                                   \n";

constexpr const char* kNoDefaultRoute
    = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT           \n"
      "wlp2s0\t002BA8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0                                   \n";

// A Wi-Fi network whose router hands out a public address as gateway.
constexpr const char* kPublicGateway
    = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT           \n"
      "wlp2s0\t00000000\t017100CB\t0003\t0\t0\t600\t00000000\t0\t0\t0                                   \n";

TEST(MacNetworkTest, RouteAddressesAreLittleEndianHex)
{
    const struct {
        const char* hex;
        std::optional<std::string> address;
    } cases[] = {
        { "0101A8C0", "192.168.1.1" },
        { "012BA8C0", "192.168.43.1" },
        { "0100000A", "10.0.0.1" },
        { "00000000", "0.0.0.0" },
        { "FFFFFFFF", "255.255.255.255" },
        { "101A8C0", std::nullopt },
        { "0101A8CG", std::nullopt },
        { "-101A8C0", std::nullopt },
        { "", std::nullopt },
    };
    for (const auto& c : cases)
        EXPECT_EQ(MacNetwork::parseRouteAddress(c.hex), c.address) << c.hex;
}

TEST(MacNetworkTest, DefaultRoutesInFileOrder)
{
    const std::vector<DefaultRoute> expected {
        { "enp0s31f6", "192.168.0.1" },
        { "wlp2s0", "192.168.43.1" },
    };
    EXPECT_EQ(MacNetwork::parseDefaultRoutes(kWiredAndWiFi), expected);
    EXPECT_TRUE(MacNetwork::parseDefaultRoutes(kNoDefaultRoute).empty());
}

TEST(MacNetworkTest, UnreadableLinesAreSkipped)
{
    const std::string table = "Iface\tDestination\tGateway\n"
                              "\n"
                              "garbage\n"
                              "tun0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n" // no gateway
                              "eth1\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n" // not up
                              "eth2\t00000000\t0101A8C0\t0003\t0\t0\t0\t0000FFFF\t0\t0\t0\n" // not default
                              "eth3\t00000000\t0101A8C0\t0003\t0\t0\t0\t0000\n" // cut short
                              "eth4 00000000 0201A8C0 0003 0 0 0 00000000 0 0 0\r\n"
                              "eth5\t00000000\t0301A8C0\t0003\t0\t0\t0\t00000000"; // no final line feed
    const std::vector<DefaultRoute> expected {
        { "eth4", "192.168.1.2" },
        { "eth5", "192.168.1.3" },
    };
    EXPECT_EQ(MacNetwork::parseDefaultRoutes(table), expected);
    EXPECT_TRUE(MacNetwork::parseDefaultRoutes("").empty());
    EXPECT_TRUE(MacNetwork::parseDefaultRoutes(std::string(4096, '\t')).empty());
}

TEST(MacNetworkTest, RouterIsTheWiFiInterfacesPrivateGateway)
{
    const auto routes = MacNetwork::parseDefaultRoutes(kWiredAndWiFi);
    EXPECT_EQ(MacNetwork::routerAddress(routes, { "wlp2s0" }), "192.168.43.1");
    // Without a known Wi-Fi interface every default route counts, in file order.
    EXPECT_EQ(MacNetwork::routerAddress(routes, {}), "192.168.0.1");
    // A Wi-Fi card that is not connected: no router, even with a wired one.
    EXPECT_EQ(MacNetwork::routerAddress(routes, { "wlp3s0" }), std::nullopt);
    EXPECT_EQ(MacNetwork::routerAddress(MacNetwork::parseDefaultRoutes(kNoDefaultRoute), {}), std::nullopt);
    EXPECT_EQ(MacNetwork::routerAddress(MacNetwork::parseDefaultRoutes(kPublicGateway), {}), std::nullopt);

    const std::vector<DefaultRoute> publicFirst { { "wlan0", "203.0.113.1" }, { "wlan1", "10.1.2.3" } };
    EXPECT_EQ(MacNetwork::routerAddress(publicFirst, { "wlan0", "wlan1" }), "10.1.2.3");
}

// A root folder holding proc/net/route and sys/class/net as the system lays them out.
class MacNetworkRootTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_root.isValid()); }
    std::filesystem::path root() const { return m_root.path().toStdString(); }
    void writeRoutes(const std::string& text) const
    {
        QDir().mkpath(m_root.path() + QStringLiteral("/proc/net"));
        std::ofstream(root() / "proc/net/route") << text;
    }
    void addInterface(const QString& name, bool wireless) const
    {
        const QString folder = m_root.path() + QStringLiteral("/sys/class/net/") + name;
        QDir().mkpath(wireless ? folder + QStringLiteral("/wireless") : folder);
    }

    QTemporaryDir m_root;
};

TEST_F(MacNetworkRootTest, WiFiRouterFromTheFiles)
{
    writeRoutes(kWiredAndWiFi);
    addInterface(QStringLiteral("lo"), false);
    addInterface(QStringLiteral("enp0s31f6"), false);
    addInterface(QStringLiteral("wlp2s0"), true);
    EXPECT_EQ(MacNetwork::wirelessInterfaces(root()), std::set<std::string> { "wlp2s0" });
    EXPECT_EQ(MacNetwork::wifiRouterIP(root()), "192.168.43.1");
    EXPECT_EQ(SystemNetworkInfo(root()).wifiRouterIP(), "192.168.43.1");
}

TEST_F(MacNetworkRootTest, NoWirelessInterfaceTakesAnyDefaultRoute)
{
    writeRoutes(kWiredAndWiFi);
    addInterface(QStringLiteral("enp0s31f6"), false);
    EXPECT_EQ(MacNetwork::wifiRouterIP(root()), "192.168.0.1");
}

TEST_F(MacNetworkRootTest, MissingOrPublicGivesNone)
{
    EXPECT_EQ(MacNetwork::wifiRouterIP(root()), std::nullopt);
    EXPECT_EQ(MacNetwork::wifiRouterIP(root() / "does-not-exist"), std::nullopt);
    writeRoutes(kPublicGateway);
    addInterface(QStringLiteral("wlp2s0"), true);
    EXPECT_EQ(MacNetwork::wifiRouterIP(root()), std::nullopt);
    writeRoutes(kNoDefaultRoute);
    EXPECT_EQ(MacNetwork::wifiRouterIP(root()), std::nullopt);
}

// Whatever this machine runs (no system bus, no NetworkManager, or a real one), the
// question is answered without holding the GUI thread for long.
TEST(MacNetworkTest, WiFiLinkAnswersPromptly)
{
    QElapsedTimer clock;
    clock.start();
    const auto link = MacNetwork::wifiLink();
    EXPECT_LT(clock.elapsed(), 2000);
    if (link) {
        EXPECT_FALSE(link->interfaceName.empty());
    }
}

} // namespace
} // namespace tessaly
