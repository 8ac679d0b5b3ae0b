#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tessaly {

// Announces one DNS-SD service on the local network (Avahi on Linux). Tests hand in a fake.
class ServiceAdvertiser {
public:
    struct Service {
        std::string type; // "_FC9F5ED42C8A._tcp"
        std::string name; // instance name
        std::uint16_t port = 0;
        std::vector<std::pair<std::string, std::string>> txt;
    };
    struct Handlers {
        // The service is announced under this instance name (after any renames).
        std::function<void(const std::string& instanceName)> established;
        // Announcing is not possible (no daemon, daemon gone, refused); a lower-case phrase.
        std::function<void(const std::string& reason)> failed;
    };

    virtual ~ServiceAdvertiser() = default;

    // Starts announcing `service`, replacing what was announced before. On a name collision the
    // advertiser asks `newName` for another instance name and tries again. Handlers may run on
    // any thread, but never after `withdraw` has returned.
    virtual void publish(Service service, std::function<std::string()> newName, Handlers handlers) = 0;
    // Stops announcing; synchronous.
    virtual void withdraw() = 0;
};

} // namespace tessaly
