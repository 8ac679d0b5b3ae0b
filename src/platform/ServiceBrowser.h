#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessaly {

// Looks for DNS-SD services on the local network (Avahi on Linux) and resolves each instance
// it sees to an IPv4 address and port. Tests hand in a fake.
class ServiceBrowser {
public:
    struct Found {
        std::string type; // "_adb-tls-pairing._tcp"
        std::string name; // instance name
        std::string address; // dotted IPv4, as announced: nothing is vetted here
        std::uint16_t port = 0;
    };
    struct Handlers {
        std::function<void(const Found& service)> resolved;
        // An instance was seen but its address could not be learnt.
        std::function<void(const std::string& type, const std::string& name)> unresolved;
        // Browsing is not possible (no daemon, daemon gone, refused); a lower-case phrase.
        std::function<void(const std::string& reason)> failed;
    };

    virtual ~ServiceBrowser() = default;

    // Starts looking for instances of every type in `types`, replacing an earlier browse.
    // Handlers may run on any thread, but never after `stop` has returned.
    virtual void browse(std::vector<std::string> types, Handlers handlers) = 0;
    // Stops looking; synchronous.
    virtual void stop() = 0;
};

} // namespace tessaly
