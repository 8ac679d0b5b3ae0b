#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

#include <QHostAddress>
#include <QString>
#include <QUuid>

namespace tessaly {

// Which connections the receiver takes and whose offers it shows. At most six connections, two
// from any one address, so one neighbour cannot take every slot; and one open question per
// address: a later offer from the same address waits, its phone still waiting for the answer,
// until the open one is answered or its connection ends. (Quick Share has no "busy" answer, and
// a decline would read to the sender as the user's own.)
class QuickShareAdmission {
public:
    static constexpr std::size_t kMaxConnections = 6;
    static constexpr std::size_t kMaxPerAddress = 2;

    // The address connections are counted under: IPv4-mapped IPv6 as IPv4, without a scope.
    static QString addressKey(const QHostAddress& address);

    // False: no slot for it; nothing is kept.
    bool admit(const QUuid& id, const QString& address);
    // True: show the offer of `id` now; false: it waits.
    bool offer(const QUuid& id);
    // The prompt of `id` was answered: the waiting offer to show next, if any.
    std::optional<QUuid> answered(const QUuid& id);
    // The connection `id` ended: the waiting offer to show next, if any.
    std::optional<QUuid> leave(const QUuid& id);
    bool wasShown(const QUuid& id) const;

private:
    enum class Prompt { none, waiting, open, answered };
    struct Entry {
        QString address;
        Prompt prompt = Prompt::none;
        std::uint64_t queued = 0;
    };
    std::optional<QUuid> next(const QString& address);

    std::map<QUuid, Entry> m_entries;
    std::uint64_t m_queued = 0;
};

} // namespace tessaly
