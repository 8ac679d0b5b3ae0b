#pragma once

#include "controller/NetworkInfo.h"

namespace tessaly::test {

// This computer's network as a test sets it up; counts the questions asked.
class FakeNetworkInfo : public NetworkInfo {
public:
    std::optional<std::string> routerIP;
    std::optional<MacNetwork::WiFiLink> link;
    mutable int routerQuestions = 0;
    mutable int linkQuestions = 0;

    std::optional<std::string> wifiRouterIP() const override
    {
        ++routerQuestions;
        return routerIP;
    }
    std::optional<MacNetwork::WiFiLink> wifiLink() const override
    {
        ++linkQuestions;
        return link;
    }
};

} // namespace tessaly::test
