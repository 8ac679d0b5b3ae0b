#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "phone/WiFiBand.h"

namespace tessaly {

// This computer's own network: its Wi-Fi link and the router of its Wi-Fi connection
// (on a phone's hotspot, the router is the phone).
namespace MacNetwork {

struct WiFiLink {
    std::optional<WiFiBand> band;
    int rssi = 0; // dBm, estimated from NetworkManager's signal percentage
    std::string interfaceName;

    bool operator==(const WiFiLink&) const = default;
};

// One default route of the kernel's IPv4 table.
struct DefaultRoute {
    std::string interfaceName;
    std::string gateway; // dotted IPv4

    bool operator==(const DefaultRoute&) const = default;
};

// The default routes (destination and mask 0, up, through a gateway) of /proc/net/route,
// in file order. A line looks like:
//   wlp2s0	00000000	0101A8C0	0003	0	0	600	00000000	0	0
//   0
// Lines that cannot be read are skipped.
std::vector<DefaultRoute> parseDefaultRoutes(std::string_view routeTable);

// An address field of /proc/net/route: 8 hex digits of the address in network byte
// order printed as a native-endian number ("0101A8C0" is 192.168.1.1 on little-endian
// machines).
std::optional<std::string> parseRouteAddress(std::string_view hex);

// The first default route's gateway that is a private home-network address: that of
// `activeInterface` (the Wi-Fi interface in use) when it has one, else among the routes of
// the wireless interfaces, or of every interface when none is known.
std::optional<std::string> routerAddress(const std::vector<DefaultRoute>& routes,
    const std::set<std::string>& wirelessInterfaces, const std::string& activeInterface = {});

// The interfaces of ROOT/sys/class/net that have a "wireless" entry.
std::set<std::string> wirelessInterfaces(const std::filesystem::path& root);

// Names the Wi-Fi interface in use; empty when that is not known.
using ActiveInterfaceQuery = std::function<std::string()>;

// The router of the Wi-Fi connection read from ROOT/proc/net/route and ROOT/sys/class/net.
// Only when several wireless interfaces have a default route is `activeInterface` asked which
// one is in use (by default NetworkManager, through `wifiLink`).
std::optional<std::string> wifiRouterIP(
    const std::filesystem::path& root = "/", const ActiveInterfaceQuery& activeInterface = {});

// The active Wi-Fi link as NetworkManager reports it on the system bus; none when there is
// no connected Wi-Fi device or NetworkManager does not answer promptly.
std::optional<WiFiLink> wifiLink();

} // namespace MacNetwork
} // namespace tessaly
