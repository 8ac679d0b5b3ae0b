#include "platform/AvahiBrowser.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>

namespace tessaly {

namespace {

const std::string noDaemon = "the Avahi service isn’t running";
const std::string refused = "Avahi refused to look for phones";

} // namespace

struct AvahiBrowser::Callbacks {
    static void client(AvahiClient* client, AvahiClientState state, void* self)
    {
        auto* browser = static_cast<AvahiBrowser*>(self);
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            browser->startBrowsing(client);
            break;
        case AVAHI_CLIENT_FAILURE:
            browser->fail(noDaemon);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
        case AVAHI_CLIENT_CONNECTING:
            break;
        }
    }

    static void service(AvahiServiceBrowser* serviceBrowser, AvahiIfIndex interface, AvahiProtocol protocol,
        AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
        AvahiLookupResultFlags, void* self)
    {
        auto* browser = static_cast<AvahiBrowser*>(self);
        switch (event) {
        case AVAHI_BROWSER_NEW:
            // The resolver belongs to the client and is freed with it if it never answers.
            if (!avahi_service_resolver_new(avahi_service_browser_get_client(serviceBrowser), interface,
                    protocol, name, type, domain, AVAHI_PROTO_INET, AvahiLookupFlags(0), resolved, self)
                && browser->m_handlers.unresolved)
                browser->m_handlers.unresolved(type, name);
            break;
        case AVAHI_BROWSER_FAILURE:
            browser->fail(refused);
            break;
        case AVAHI_BROWSER_REMOVE:
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
        case AVAHI_BROWSER_ALL_FOR_NOW:
            break;
        }
    }

    static void resolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
        AvahiResolverEvent event, const char* name, const char* type, const char*, const char*,
        const AvahiAddress* address, uint16_t port, AvahiStringList*, AvahiLookupResultFlags, void* self)
    {
        auto* browser = static_cast<AvahiBrowser*>(self);
        if (event == AVAHI_RESOLVER_FOUND && address && address->proto == AVAHI_PROTO_INET) {
            char text[AVAHI_ADDRESS_STR_MAX] = {};
            avahi_address_snprint(text, sizeof text, address);
            if (browser->m_handlers.resolved)
                browser->m_handlers.resolved(Found { type, name, text, port });
        } else if (browser->m_handlers.unresolved) {
            browser->m_handlers.unresolved(type, name);
        }
        avahi_service_resolver_free(resolver);
    }
};

AvahiBrowser::~AvahiBrowser()
{
    stop();
}

void AvahiBrowser::browse(std::vector<std::string> types, Handlers handlers)
{
    stop();
    m_types = std::move(types);
    m_handlers = std::move(handlers);
    m_browsing = false;
    m_failed = false;

    if (!m_session.open(Callbacks::client, this))
        fail(noDaemon);
}

void AvahiBrowser::stop()
{
    m_session.close();
}

void AvahiBrowser::startBrowsing(AvahiClient* client)
{
    // The client reports running again after the daemon changed its host name; the browsers
    // made the first time go on.
    if (m_browsing || m_failed)
        return;
    m_browsing = true;
    for (const std::string& type : m_types) {
        if (!avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, type.c_str(), nullptr,
                AvahiLookupFlags(0), Callbacks::service, this)) {
            fail(refused);
            return;
        }
    }
}

void AvahiBrowser::fail(const std::string& reason)
{
    if (m_failed)
        return;
    m_failed = true;
    if (m_handlers.failed)
        m_handlers.failed(reason);
}

} // namespace tessaly
