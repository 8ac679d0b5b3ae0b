#pragma once

#include <string>
#include <vector>

#include "platform/AvahiSession.h"
#include "platform/ServiceBrowser.h"

struct AvahiClient;

namespace tessaly {

// Browses and resolves through the system's Avahi daemon, on Avahi's own thread, IPv4 only.
// The handlers run on that thread (a failure to reach the daemon is reported from `browse`
// itself) and must not call back into this browser.
class AvahiBrowser : public ServiceBrowser {
public:
    AvahiBrowser() = default;
    ~AvahiBrowser() override;
    AvahiBrowser(const AvahiBrowser&) = delete;
    AvahiBrowser& operator=(const AvahiBrowser&) = delete;

    void browse(std::vector<std::string> types, Handlers handlers) override;
    void stop() override;

private:
    struct Callbacks; // Avahi's C callbacks, in the source file
    friend struct Callbacks;

    // These run on Avahi's thread (or inside avahi_client_new, before that thread starts).
    void startBrowsing(AvahiClient* client);
    void fail(const std::string& reason);

    AvahiSession m_session;
    std::vector<std::string> m_types;
    Handlers m_handlers;
    bool m_browsing = false;
    bool m_failed = false;
};

} // namespace tessaly
