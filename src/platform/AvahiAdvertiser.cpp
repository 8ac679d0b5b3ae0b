#include "platform/AvahiAdvertiser.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>

namespace tessaly {

namespace {

const std::string noDaemon = "phones can’t find this computer: the Avahi service isn’t running";
const std::string refused = "phones can’t find this computer: Avahi refused to announce it";
// Each collision asks for a fresh random name, so running out of tries means something else is wrong.
constexpr int maxRenames = 20;

} // namespace

struct AvahiAdvertiser::Callbacks {
    static void client(AvahiClient* client, AvahiClientState state, void* self)
    {
        auto* advertiser = static_cast<AvahiAdvertiser*>(self);
        switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            advertiser->announce(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The daemon is changing its host name; services are announced again once it runs.
            if (advertiser->m_group)
                avahi_entry_group_reset(advertiser->m_group);
            break;
        case AVAHI_CLIENT_FAILURE:
            // The daemon went away (or the bus did).
            advertiser->fail(noDaemon);
            break;
        case AVAHI_CLIENT_CONNECTING:
            break;
        }
    }

    static void group(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self)
    {
        auto* advertiser = static_cast<AvahiAdvertiser*>(self);
        switch (state) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            if (advertiser->m_handlers.established)
                advertiser->m_handlers.established(advertiser->m_service.name);
            break;
        case AVAHI_ENTRY_GROUP_COLLISION:
            advertiser->rename(avahi_entry_group_get_client(group));
            break;
        case AVAHI_ENTRY_GROUP_FAILURE:
            advertiser->fail(refused);
            break;
        case AVAHI_ENTRY_GROUP_UNCOMMITED:
        case AVAHI_ENTRY_GROUP_REGISTERING:
            break;
        }
    }
};

AvahiAdvertiser::~AvahiAdvertiser()
{
    withdraw();
}

void AvahiAdvertiser::publish(Service service, std::function<std::string()> newName, Handlers handlers)
{
    withdraw();
    m_service = std::move(service);
    m_newName = std::move(newName);
    m_handlers = std::move(handlers);
    m_renames = 0;
    m_failed = false;

    if (!m_session.open(Callbacks::client, this))
        fail(noDaemon);
}

void AvahiAdvertiser::withdraw()
{
    m_session.close();
    m_group = nullptr;
}

void AvahiAdvertiser::announce(AvahiClient* client)
{
    if (m_failed)
        return;
    if (!m_group) {
        m_group = avahi_entry_group_new(client, Callbacks::group, this);
        if (!m_group) {
            fail(refused);
            return;
        }
    }
    if (!avahi_entry_group_is_empty(m_group))
        return;

    AvahiStringList* txt = nullptr;
    for (const auto& [key, value] : m_service.txt)
        txt = avahi_string_list_add_pair(txt, key.c_str(), value.c_str());
    const int added = avahi_entry_group_add_service_strlst(m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
        AvahiPublishFlags(0), m_service.name.c_str(), m_service.type.c_str(), nullptr, nullptr,
        m_service.port, txt);
    avahi_string_list_free(txt);
    // Another service of this daemon holding the name is reported here rather than by the group.
    if (added == AVAHI_ERR_COLLISION) {
        rename(client);
        return;
    }
    if (added < 0 || avahi_entry_group_commit(m_group) < 0)
        fail(refused);
}

void AvahiAdvertiser::rename(AvahiClient* client)
{
    if (++m_renames > maxRenames || !m_newName) {
        fail(refused);
        return;
    }
    m_service.name = m_newName();
    avahi_entry_group_reset(m_group);
    announce(client);
}

void AvahiAdvertiser::fail(const std::string& reason)
{
    if (m_failed)
        return;
    m_failed = true;
    if (m_handlers.failed)
        m_handlers.failed(reason);
}

} // namespace tessaly
