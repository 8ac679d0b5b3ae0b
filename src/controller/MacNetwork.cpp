#include "controller/MacNetwork.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <fstream>

#include "platform/NetworkManagerWiFi.h"
#include "tools/Validation.h"

namespace tessaly::MacNetwork {

namespace {

// A desktop's table has a handful of lines; a router's can be long, but the default
// routes come first and nothing past this is read.
constexpr std::size_t kRouteTableReadLimit = 1024 * 1024;
constexpr std::size_t kInterfaceLimit = 1024;

constexpr std::uint32_t kRouteUp = 0x0001;
constexpr std::uint32_t kRouteGateway = 0x0002;

std::optional<std::uint32_t> parseHex(std::string_view text, std::size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> result;
    std::size_t position = 0;
    while (position < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", position);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        result.push_back(line.substr(start, end - start));
        position = end;
    }
    return result;
}

std::string readBounded(const std::filesystem::path& file, std::size_t limit)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return {};
    std::string text(limit, '\0');
    stream.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(stream.gcount()));
    return text;
}

} // namespace

std::optional<std::string> parseRouteAddress(std::string_view hex)
{
    if (hex.size() != 8)
        return std::nullopt;
    const auto value = parseHex(hex, 8);
    if (!value)
        return std::nullopt;
    std::uint32_t number = *value;
    if constexpr (std::endian::native == std::endian::big)
        number = (number >> 24) | ((number >> 8) & 0xff00u) | ((number << 8) & 0xff0000u) | (number << 24);
    return std::to_string(number & 0xffu) + "." + std::to_string((number >> 8) & 0xffu) + "."
        + std::to_string((number >> 16) & 0xffu) + "." + std::to_string(number >> 24);
}

std::vector<DefaultRoute> parseDefaultRoutes(std::string_view routeTable)
{
    std::vector<DefaultRoute> routes;
    std::size_t position = 0;
    while (position < routeTable.size()) {
        std::size_t end = routeTable.find('\n', position);
        if (end == std::string_view::npos)
            end = routeTable.size();
        const auto columns = fields(routeTable.substr(position, end - position));
        position = end + 1;
        // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
        if (columns.size() < 8)
            continue;
        const auto destination = parseHex(columns[1], 8);
        const auto flags = parseHex(columns[3], 8);
        const auto mask = parseHex(columns[7], 8);
        const auto gateway = parseRouteAddress(columns[2]);
        if (!destination || !flags || !mask || !gateway || columns[1].size() != 8 || columns[7].size() != 8)
            continue;
        if (*destination != 0 || *mask != 0 || (*flags & kRouteUp) == 0 || (*flags & kRouteGateway) == 0)
            continue;
        routes.push_back(DefaultRoute { std::string(columns[0]), *gateway });
    }
    return routes;
}

std::optional<std::string> routerAddress(const std::vector<DefaultRoute>& routes,
    const std::set<std::string>& wirelessInterfaces, const std::string& activeInterface)
{
    for (const DefaultRoute& route : routes) {
        if (!activeInterface.empty() && route.interfaceName == activeInterface
            && Validation::isPrivateLANIPv4(route.gateway))
            return route.gateway;
    }
    for (const DefaultRoute& route : routes) {
        if (!wirelessInterfaces.empty() && !wirelessInterfaces.contains(route.interfaceName))
            continue;
        if (Validation::isPrivateLANIPv4(route.gateway))
            return route.gateway;
    }
    return std::nullopt;
}

std::set<std::string> wirelessInterfaces(const std::filesystem::path& root)
{
    namespace fs = std::filesystem;
    std::set<std::string> names;
    std::error_code error;
    fs::directory_iterator entries(root / "sys/class/net", error);
    for (std::size_t seen = 0; !error && entries != fs::directory_iterator() && seen < kInterfaceLimit;
         entries.increment(error), ++seen) {
        std::error_code existsError;
        if (fs::exists(entries->path() / "wireless", existsError))
            names.insert(entries->path().filename().string());
    }
    return names;
}

std::optional<std::string> wifiRouterIP(
    const std::filesystem::path& root, const ActiveInterfaceQuery& activeInterface)
{
    const std::string table = readBounded(root / "proc/net/route", kRouteTableReadLimit);
    const std::vector<DefaultRoute> routes = parseDefaultRoutes(table);
    const std::set<std::string> wireless = wirelessInterfaces(root);
    // With two Wi-Fi adapters on a network, the file order says nothing about which one
    // is in use; asking NetworkManager costs a round trip, so only then.
    std::set<std::string> routed;
    for (const DefaultRoute& route : routes) {
        if (wireless.contains(route.interfaceName))
            routed.insert(route.interfaceName);
    }
    std::string active;
    if (routed.size() > 1) {
        if (activeInterface) {
            active = activeInterface();
        } else if (const auto link = wifiLink()) {
            active = link->interfaceName;
        }
    }
    return routerAddress(routes, wireless, active);
}

std::optional<WiFiLink> wifiLink()
{
    const auto active = NetworkManagerWiFi::activeLink();
    if (!active)
        return std::nullopt;
    return WiFiLink {
        wifiBandFromFrequencyMHz(active->frequencyMHz),
        NetworkManagerWiFi::estimatedDbm(active->strengthPercent),
        active->interfaceName,
    };
}

} // namespace tessaly::MacNetwork
