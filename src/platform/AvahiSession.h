#pragma once

#include <avahi-client/client.h>
#include <avahi-common/thread-watch.h>

namespace tessaly {

// An Avahi client running on a poll thread of its own: what the advertiser and the browser share.
class AvahiSession {
public:
    AvahiSession() = default;
    ~AvahiSession() { close(); }
    AvahiSession(const AvahiSession&) = delete;
    AvahiSession& operator=(const AvahiSession&) = delete;

    // False when no daemon answers. The client's running state may be reported from inside this call.
    bool open(AvahiClientCallback callback, void* userData);
    // Synchronous: no callback runs once this returns, and whatever the client made is gone.
    void close();

private:
    AvahiThreadedPoll* m_poll = nullptr;
    AvahiClient* m_client = nullptr;
};

} // namespace tessaly
