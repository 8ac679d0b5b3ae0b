#pragma once

#include <array>
#include <cstdint>
#include <set>

#include <QHostAddress>

#include "quickshare/QuickShareWire.h"

namespace tessaly::LocalPeer {

using Prefix = std::array<std::uint8_t, 8>;

// The /64 prefixes of this computer's own IPv6 addresses; empty when they cannot be read.
std::set<Prefix> ownIPv6Prefixes();

// Whether a peer address belongs to the local network: private, link-local and loopback ranges,
// or a global IPv6 address inside one of this computer's own /64 networks.
bool isLocal(const QHostAddress& address, const std::set<Prefix>& ownIPv6Prefixes);
bool isLocalIPv4(ByteView bytes);
bool isLocalIPv6(ByteView bytes, const std::set<Prefix>& ownPrefixes);

} // namespace tessaly::LocalPeer
