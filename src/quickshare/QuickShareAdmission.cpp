#include "quickshare/QuickShareAdmission.h"

#include <algorithm>

namespace tessaly {

QString QuickShareAdmission::addressKey(const QHostAddress& address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (isIPv4)
        return QHostAddress(ipv4).toString();
    QHostAddress plain = address;
    plain.setScopeId({});
    return plain.toString();
}

bool QuickShareAdmission::admit(const QUuid& id, const QString& address)
{
    const auto sameAddress = std::count_if(m_entries.begin(), m_entries.end(),
        [&](const auto& entry) { return entry.second.address == address; });
    if (m_entries.size() >= kMaxConnections || std::size_t(sameAddress) >= kMaxPerAddress)
        return false;
    m_entries[id] = Entry { address };
    return true;
}

bool QuickShareAdmission::offer(const QUuid& id)
{
    const auto found = m_entries.find(id);
    if (found == m_entries.end() || found->second.prompt != Prompt::none)
        return false;
    const bool busy = std::any_of(m_entries.begin(), m_entries.end(), [&](const auto& entry) {
        return entry.second.address == found->second.address && entry.second.prompt == Prompt::open;
    });
    found->second.prompt = busy ? Prompt::waiting : Prompt::open;
    found->second.queued = m_queued++;
    return !busy;
}

std::optional<QUuid> QuickShareAdmission::answered(const QUuid& id)
{
    const auto found = m_entries.find(id);
    if (found == m_entries.end() || found->second.prompt != Prompt::open)
        return std::nullopt;
    found->second.prompt = Prompt::answered;
    return next(found->second.address);
}

std::optional<QUuid> QuickShareAdmission::leave(const QUuid& id)
{
    const auto found = m_entries.find(id);
    if (found == m_entries.end())
        return std::nullopt;
    const Entry entry = found->second;
    m_entries.erase(found);
    return entry.prompt == Prompt::open ? next(entry.address) : std::nullopt;
}

bool QuickShareAdmission::wasShown(const QUuid& id) const
{
    const auto found = m_entries.find(id);
    return found != m_entries.end()
        && (found->second.prompt == Prompt::open || found->second.prompt == Prompt::answered);
}

std::optional<QUuid> QuickShareAdmission::next(const QString& address)
{
    std::optional<QUuid> first;
    for (const auto& [id, entry] : m_entries)
        if (entry.address == address && entry.prompt == Prompt::waiting
            && (!first || entry.queued < m_entries.at(*first).queued))
            first = id;
    if (first)
        m_entries.at(*first).prompt = Prompt::open;
    return first;
}

} // namespace tessaly
