#include "platform/AvahiSession.h"

namespace tessaly {

bool AvahiSession::open(AvahiClientCallback callback, void* userData)
{
    close();
    m_poll = avahi_threaded_poll_new();
    if (!m_poll)
        return false;
    int error = 0;
    // Without AVAHI_CLIENT_NO_FAIL a missing daemon is an error right here rather than a wait.
    m_client = avahi_client_new(avahi_threaded_poll_get(m_poll), AvahiClientFlags(0), callback, userData, &error);
    if (!m_client) {
        avahi_threaded_poll_free(m_poll);
        m_poll = nullptr;
        return false;
    }
    return avahi_threaded_poll_start(m_poll) >= 0;
}

void AvahiSession::close()
{
    if (!m_poll)
        return;
    // Once the thread has stopped no callback can run; freeing the client frees its groups,
    // browsers and resolvers.
    avahi_threaded_poll_stop(m_poll);
    avahi_client_free(m_client);
    avahi_threaded_poll_free(m_poll);
    m_client = nullptr;
    m_poll = nullptr;
}

} // namespace tessaly
