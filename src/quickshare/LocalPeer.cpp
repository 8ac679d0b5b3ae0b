#include "quickshare/LocalPeer.h"

#include <algorithm>
#include <ifaddrs.h>
#include <netinet/in.h>

namespace tessaly::LocalPeer {

std::set<Prefix> ownIPv6Prefixes()
{
    std::set<Prefix> prefixes;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return prefixes;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET6)
            continue;
        const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
        Prefix prefix {};
        std::copy_n(address->sin6_addr.s6_addr, prefix.size(), prefix.begin());
        prefixes.insert(prefix);
    }
    ::freeifaddrs(list);
    return prefixes;
}

bool isLocal(const QHostAddress& address, const std::set<Prefix>& ownIPv6Prefixes)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 v4 = address.toIPv4Address();
        const std::uint8_t bytes[4]
            = { std::uint8_t(v4 >> 24), std::uint8_t(v4 >> 16), std::uint8_t(v4 >> 8), std::uint8_t(v4) };
        return isLocalIPv4(bytes);
    }
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(v6.c);
    static constexpr std::uint8_t mapped[12] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF };
    if (std::equal(mapped, mapped + 12, bytes))
        return isLocalIPv4(ByteView(bytes + 12, 4));
    return isLocalIPv6(ByteView(bytes, 16), ownIPv6Prefixes);
}

bool isLocalIPv4(ByteView b)
{
    if (b.size() != 4)
        return false;
    return b[0] == 10 || b[0] == 127 || (b[0] == 169 && b[1] == 254) || (b[0] == 172 && (b[1] & 0xF0) == 16)
        || (b[0] == 192 && b[1] == 168);
}

bool isLocalIPv6(ByteView b, const std::set<Prefix>& ownPrefixes)
{
    if (b.size() != 16)
        return false;
    if (b[0] == 0xFC || b[0] == 0xFD || (b[0] == 0xFE && b[1] >= 0x80 && b[1] <= 0xBF))
        return true;
    if (std::all_of(b.begin(), b.begin() + 15, [](std::uint8_t x) { return x == 0; }) && b[15] == 1)
        return true;
    Prefix prefix {};
    std::copy_n(b.begin(), prefix.size(), prefix.begin());
    return ownPrefixes.count(prefix) != 0;
}

} // namespace tessaly::LocalPeer
