#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "quickshare/QuickShareWire.h"

namespace tessaly {

// A connection-level frame. Decoding raises ProtoMessage::Malformed for a frame whose structure is
// wrong; a frame of a type this receiver does not handle decodes as Other.
struct OfflineFrame {
    struct ConnectionRequest {
        std::string endpointID;
        Bytes info; // an EndpointInfo blob
        bool operator==(const ConnectionRequest&) const = default;
    };
    struct ConnectionResponse {
        bool accepted = false;
        bool operator==(const ConnectionResponse&) const = default;
    };
    struct PayloadPiece {
        enum class Kind : std::uint8_t { bytes = 1, file = 2 };
        std::int64_t id = 0;
        Kind kind = Kind::bytes;
        std::int64_t totalSize = 0;
        std::int64_t offset = 0;
        bool isLast = false;
        Bytes body;
        bool operator==(const PayloadPiece&) const = default;
    };
    struct PayloadStopped {
        std::int64_t id = 0;
        bool operator==(const PayloadStopped&) const = default;
    };
    struct KeepAlive {
        bool ack = false;
        bool operator==(const KeepAlive&) const = default;
    };
    struct Disconnection {
        bool operator==(const Disconnection&) const = default;
    };
    struct Other {
        bool operator==(const Other&) const = default;
    };

    using Case = std::variant<ConnectionRequest, ConnectionResponse, PayloadPiece, PayloadStopped, KeepAlive,
        Disconnection, Other>;
    Case value;

    static OfflineFrame decode(ByteView data);
    Bytes encoded() const;

    template <typename T> const T* as() const { return std::get_if<T>(&value); }
    bool operator==(const OfflineFrame&) const = default;
};

} // namespace tessaly
