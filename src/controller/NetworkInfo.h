#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "controller/MacNetwork.h"

namespace tessaly {

// What the controller asks about this computer's network; tests hand in a fake.
class NetworkInfo {
public:
    virtual ~NetworkInfo() = default;

    // The router of the Wi-Fi connection (the phone, on its hotspot).
    virtual std::optional<std::string> wifiRouterIP() const = 0;
    virtual std::optional<MacNetwork::WiFiLink> wifiLink() const = 0;
};

// The real answers: the kernel's route table and NetworkManager.
class SystemNetworkInfo : public NetworkInfo {
public:
    explicit SystemNetworkInfo(std::filesystem::path root = "/")
        : m_root(std::move(root))
    {
    }

    std::optional<std::string> wifiRouterIP() const override { return MacNetwork::wifiRouterIP(m_root); }
    std::optional<MacNetwork::WiFiLink> wifiLink() const override { return MacNetwork::wifiLink(); }

private:
    std::filesystem::path m_root;
};

} // namespace tessaly
