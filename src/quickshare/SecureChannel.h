#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "quickshare/QuickShareWire.h"
#include "quickshare/SecretBytes.h"

namespace tessaly {

// The encrypted channel that follows the handshake: each frame travels as a sequenced message,
// AES-256-CBC encrypted under a fresh IV, then signed with HMAC-SHA256 over header and body.
// A value type: the two counters change with every seal and open.
class SecureChannel {
public:
    // A message could not be opened or sealed; deliberately without detail.
    struct Failed : std::runtime_error {
        Failed();
    };

    SecureChannel(std::string code, SecretBytes encryptKey, SecretBytes sendSigningKey,
        SecretBytes decryptKey, SecretBytes receiveSigningKey, std::int32_t sent = 0,
        std::int32_t received = 0);

    // The four-digit comparison code of the handshake that made this channel.
    const std::string& code() const { return m_code; }
    std::int32_t sent() const { return m_sent; }
    std::int32_t received() const { return m_received; }

    // The sealed bytes of one outgoing frame, numbered 1, 2, 3, ...
    Bytes seal(ByteView message);

    // The frame carried by one incoming sealed message. The signature is checked first, in
    // constant time, before anything is decrypted; the sequence number must be the next one.
    // Raises Failed, or ProtoMessage::Malformed when an authentic plaintext is not a message.
    // A failed open leaves the counters as they were.
    Bytes open(ByteView data);

private:
    std::string m_code;
    SecretBytes m_encryptKey;
    SecretBytes m_sendSigningKey;
    SecretBytes m_decryptKey;
    SecretBytes m_receiveSigningKey;
    std::int32_t m_sent = 0;
    std::int32_t m_received = 0;
};

} // namespace tessaly
