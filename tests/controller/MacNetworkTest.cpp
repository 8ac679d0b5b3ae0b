#include <fstream>

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "controller/MacNetwork.h"
#include "controller/NetworkInfo.h"

namespace tessaly {
namespace {

using MacNetwork::DefaultRoute;

const std::string kHeader
    = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT  \n";
// A laptop on Ethernet (metric 100) and on a phone's hotspot over Wi-Fi (metric 600).
const std::string kWiredAndWiFi = kHeader
    + "enp0s31f6\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0       \n"
      "wlp2s0\t00000000\t012BA8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0          \n"
      "enp0s31f6\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0       \n"
      "wlp2s0\t002BA8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0          \n";
// Two Wi-Fi adapters on a network: the built-in one on the home Wi-Fi, a USB one on the
// phone's hotspot; the file lists the home route first.
const std::string kTwoWiFi = kHeader
    + "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
      "wlx00c0ca\t00000000\t012BA8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n";
const std::string kNoDefaultRoute
    = kHeader + "wlp2s0\t002BA8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n";
const std::string kPublicGateway
    = kHeader + "wlp2s0\t00000000\t017100CB\t0003\t0\t0\t600\t00000000\t0\t0\t0\n";

TEST(MacNetworkTest, DefaultRoutesInFileOrderSkippingUnreadableLines)
{
    EXPECT_EQ(MacNetwork::parseDefaultRoutes(kWiredAndWiFi),
        (std::vector<DefaultRoute> { { "enp0s31f6", "192.168.0.1" }, { "wlp2s0", "192.168.43.1" } }));
    EXPECT_TRUE(MacNetwork::parseDefaultRoutes(kNoDefaultRoute).empty());
    const std::string odd = "Iface\tDestination\tGateway\n\ngarbage\n"
                            "tun0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n" // no gateway
                            "eth1\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n" // not up
                            "eth2\t00000000\t0101A8C0\t0003\t0\t0\t0\t0000FFFF\t0\t0\t0\n" // not default
                            "eth3\t00000000\t0101A8C0\t0003\t0\t0\t0\t0000\n" // cut short
                            "eth6\t00000000\t101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n" // odd hex
                            "eth7\t00000000\t-101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                            "eth8\t00000000\t0101A8CG\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                            "eth4 00000000 0201A8C0 0003 0 0 0 00000000 0 0 0\r\n"
                            "eth5\t00000000\t0301A8C0\t0003\t0\t0\t0\t00000000"; // no final line feed
    EXPECT_EQ(MacNetwork::parseDefaultRoutes(odd),
        (std::vector<DefaultRoute> { { "eth4", "192.168.1.2" }, { "eth5", "192.168.1.3" } }));
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
    EXPECT_EQ(MacNetwork::routerAddress(MacNetwork::parseDefaultRoutes(kPublicGateway), {}), std::nullopt);
    const std::vector<DefaultRoute> publicFirst { { "wlan0", "203.0.113.1" }, { "wlan1", "10.1.2.3" } };
    EXPECT_EQ(MacNetwork::routerAddress(publicFirst, { "wlan0", "wlan1" }), "10.1.2.3");

    // The interface in use wins over the file order; unknown or without a private router, it does not count.
    const auto twoWiFi = MacNetwork::parseDefaultRoutes(kTwoWiFi);
    const std::set<std::string> adapters { "wlp2s0", "wlx00c0ca" };
    const std::pair<std::string, std::optional<std::string>> active[] { { "wlx00c0ca", "192.168.43.1" },
        { "wlp2s0", "192.168.1.1" }, { "", "192.168.1.1" }, { "wlp9s0", "192.168.1.1" } };
    for (const auto& [name, router] : active)
        EXPECT_EQ(MacNetwork::routerAddress(twoWiFi, adapters, name), router) << name;
    EXPECT_EQ(MacNetwork::routerAddress(publicFirst, { "wlan0", "wlan1" }, "wlan0"), "10.1.2.3");
}

TEST(MacNetworkTest, WiFiRouterFromTheSystemFilesUnderARoot)
{
    QTemporaryDir folder;
    const std::filesystem::path root = folder.path().toStdString();
    const auto writeRoutes = [&](const std::string& text) {
        QDir().mkpath(folder.filePath(QStringLiteral("proc/net")));
        std::ofstream(root / "proc/net/route") << text;
    };
    EXPECT_EQ(MacNetwork::wifiRouterIP(root), std::nullopt);
    EXPECT_EQ(MacNetwork::wifiRouterIP(root / "does-not-exist"), std::nullopt);

    writeRoutes(kWiredAndWiFi);
    QDir().mkpath(folder.filePath(QStringLiteral("sys/class/net/enp0s31f6")));
    EXPECT_EQ(MacNetwork::wifiRouterIP(root), "192.168.0.1"); // no wireless interface: any default route
    QDir().mkpath(folder.filePath(QStringLiteral("sys/class/net/wlp2s0/wireless")));
    EXPECT_EQ(MacNetwork::wirelessInterfaces(root), std::set<std::string> { "wlp2s0" });
    EXPECT_EQ(SystemNetworkInfo(root).wifiRouterIP(), "192.168.43.1");

    writeRoutes(kPublicGateway);
    EXPECT_EQ(MacNetwork::wifiRouterIP(root), std::nullopt);
    writeRoutes(kNoDefaultRoute);
    EXPECT_EQ(MacNetwork::wifiRouterIP(root), std::nullopt);

    // The adapter in use is asked for only when two Wi-Fi interfaces have a default route.
    QDir().mkpath(folder.filePath(QStringLiteral("sys/class/net/wlx00c0ca/wireless")));
    int asked = 0;
    const auto inUse = [&] {
        ++asked;
        return std::string("wlx00c0ca");
    };
    writeRoutes(kWiredAndWiFi);
    EXPECT_EQ(MacNetwork::wifiRouterIP(root, inUse), "192.168.43.1");
    EXPECT_EQ(asked, 0);
    writeRoutes(kTwoWiFi);
    EXPECT_EQ(MacNetwork::wifiRouterIP(root, inUse), "192.168.43.1");
    EXPECT_EQ(asked, 1);
}

} // namespace
} // namespace tessaly
