#pragma once

#include <optional>
#include <string>

#include "quickshare/CryptoPrimitives.h"
#include "quickshare/QuickShareWire.h"
#include "quickshare/SecureChannel.h"

namespace tessaly {

// One side's ephemeral P-256 key for a UKEY2 handshake, and the derivation of the secure channel
// and its comparison code once the peer's public key is known. The key is freed (and wiped by
// OpenSSL) with this value.
class QuickShareHandshake {
public:
    QuickShareHandshake(); // with a newly generated private key
    // With the given private key: a reproducible transcript, for known-answer checks.
    explicit QuickShareHandshake(crypto::Key privateKey);

    // Key type 1 (P-256) and the point's coordinates as minimal signed big-endian integers.
    Bytes publicKeyMessage() const;

    // The channel of a finished handshake. `clientInit` and `serverInit` are the two envelopes
    // exactly as they travelled. Raises only Ukey2::Refused (badPublicKey).
    SecureChannel finish(
        ByteView peerKeyMessage, ByteView clientInit, ByteView serverInit, bool asServer) const;

    // A non-negative integer as a minimal two's-complement big-endian string (1 to 33 bytes).
    static Bytes coordinateBytes(ByteView bytes);
    // A coordinate left-padded to 32 bytes; none when it has more than 32 significant bytes.
    static std::optional<Bytes> fieldBytes(ByteView bytes);
    // The four digits both devices show, computed from the handshake's auth string.
    static std::string code(ByteView authString);

private:
    crypto::Key m_privateKey;
};

} // namespace tessaly
