#pragma once

#include <string>

#include "platform/AvahiSession.h"
#include "platform/ServiceAdvertiser.h"

struct AvahiClient;
struct AvahiEntryGroup;

namespace tessaly {

// Announces the service through the system's Avahi daemon, on Avahi's own thread. The handlers
// and `newName` run on that thread (a failure to reach the daemon is reported from `publish`
// itself) and must not call back into this advertiser.
class AvahiAdvertiser : public ServiceAdvertiser {
public:
    AvahiAdvertiser() = default;
    ~AvahiAdvertiser() override;
    AvahiAdvertiser(const AvahiAdvertiser&) = delete;
    AvahiAdvertiser& operator=(const AvahiAdvertiser&) = delete;

    void publish(Service service, std::function<std::string()> newName, Handlers handlers) override;
    void withdraw() override;

private:
    struct Callbacks; // Avahi's C callbacks, in the source file
    friend struct Callbacks;

    // These run on Avahi's thread (or inside avahi_client_new, before that thread starts).
    void announce(AvahiClient* client);
    void rename(AvahiClient* client);
    void fail(const std::string& reason);

    AvahiSession m_session;
    AvahiEntryGroup* m_group = nullptr;
    Service m_service;
    std::function<std::string()> m_newName;
    Handlers m_handlers;
    int m_renames = 0;
    bool m_failed = false;
};

} // namespace tessaly
