#pragma once

#include "controller/NetworkInfo.h"

namespace tessaly::test {

// This computer's network as a test sets it up.
class FakeNetworkInfo : public NetworkInfo {
public:
    std::optional<std::string> routerIP;
    std::optional<MacNetwork::WiFiLink> link;

    std::optional<std::string> wifiRouterIP() const override { return routerIP; }
    std::optional<MacNetwork::WiFiLink> wifiLink() const override { return link; }
};

} // namespace tessaly::test
