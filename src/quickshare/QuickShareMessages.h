#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "quickshare/QuickShareOfflineFrame.h"
#include "quickshare/QuickShareSharingFrame.h"
#include "quickshare/QuickShareWire.h"

namespace tessaly {

// `count` bytes from the system's cryptographic random source.
Bytes randomBytes(std::size_t count);

// A device's advertised name and kind, as carried in the connection request and the service
// advertisement: flags byte, 16 opaque bytes, name length, UTF-8 name.
struct EndpointInfo {
    enum class Kind : std::uint8_t { unknown = 0, phone, tablet, computer, car, foldable, headset };
    static std::optional<Kind> kindFromRaw(std::uint64_t raw);

    std::string name;
    Kind kind = Kind::unknown;

    // None for a blob that does not follow the layout.
    static std::optional<EndpointInfo> decode(ByteView data);
    Bytes encoded() const;

    bool operator==(const EndpointInfo&) const = default;
};

// The UKEY2 envelope and the messages this side writes during the handshake.
namespace Ukey2 {

// The wire number of a kind is its position plus one.
enum class Kind : std::uint8_t { alert = 1, clientInit, serverInit, clientFinish };

enum class Alert : std::uint16_t {
    badMessage = 1,
    badMessageType = 2,
    badMessageData = 4,
    badVersion = 100,
    badRandom = 101,
    badHandshakeCipher = 102,
    badNextProtocol = 103,
    badPublicKey = 104,
};
std::optional<Alert> alertFromRaw(std::uint64_t raw);

// The handshake is refused and `alert` is owed to the peer.
struct Refused : std::runtime_error {
    explicit Refused(Alert refusal);
    Alert alert;
};

// The inner message of an envelope of the expected kind; raises only Refused.
ProtoMessage open(ByteView data, Kind expecting);
Bytes message(ByteView data, Kind kind);
Bytes serverInit(ByteView random, ByteView publicKey);
Bytes alert(Alert alert);

} // namespace Ukey2

} // namespace tessaly
