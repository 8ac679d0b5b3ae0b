#pragma once

#include <cstdint>
#include <optional>
#include <string>

class QDBusConnection;

namespace tessaly {

// Asks NetworkManager, over D-Bus, about this computer's active Wi-Fi link.
namespace NetworkManagerWiFi {

struct ActiveLink {
    std::string interfaceName;
    std::uint32_t frequencyMHz = 0;
    int strengthPercent = 0;

    bool operator==(const ActiveLink&) const = default;
};

// The whole query (several calls) gives up after this long: it runs on the GUI thread.
inline constexpr int kDefaultBudgetMs = 500;

// The first Wi-Fi device (in NetworkManager's order) with an active access point.
// None when the bus is not connected, NetworkManager is not running (it is never started
// for this), does not answer within the budget, or no Wi-Fi device is connected.
std::optional<ActiveLink> activeLink(const QDBusConnection& bus, int budgetMs = kDefaultBudgetMs);
// The same on the system bus.
std::optional<ActiveLink> activeLink();

// NetworkManager maps signal levels of -100 to -40 dBm linearly onto 0 to 100 %;
// this is the inverse, good enough for display.
int estimatedDbm(int strengthPercent);

} // namespace NetworkManagerWiFi
} // namespace tessaly
