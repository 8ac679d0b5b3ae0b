#pragma once

#include <optional>
#include <string>
#include <vector>

#include "quickshare/CryptoPrimitives.h"
#include "quickshare/SecureChannel.h"

namespace tessaly::test {

// The phone's side of the UKEY2 handshake, for driving the receiver in tests. It derives its
// channel and code from the protocol's rules, not through the receiver's code.
class Ukey2Client {
public:
    // The client-init's fields; each can be bent or left out (none) to provoke a refusal.
    struct InitFields {
        std::optional<std::uint64_t> version = 1;
        std::optional<Bytes> random = {}; // none: 32 fresh random bytes
        struct Commitment {
            std::optional<std::uint64_t> cipher = 100;
            std::optional<Bytes> hash;
        };
        std::optional<std::vector<Commitment>> commitments = {}; // none: cipher 100, commitment()
        std::optional<std::string> nextProtocol = "AES_256_CBC-HMAC_SHA256";
    };

    Ukey2Client();
    Bytes clientInit() const { return clientInit(InitFields {}); }
    Bytes clientInit(const InitFields& fields) const;
    Bytes clientFinish() const;
    Bytes commitment() const; // SHA-512 of clientFinish()
    // The client-finish carries `message` instead of this client's public key (none: no key).
    void usePublicKeyMessage(std::optional<Bytes> message) { m_keyMessage = std::move(message); }
    // This client's public point, each coordinate 32 bytes.
    Bytes x() const { return Bytes(m_point.begin(), m_point.begin() + 32); }
    Bytes y() const { return Bytes(m_point.begin() + 32, m_point.end()); }
    // Derives the channel from the server-init as the client does; throws std::runtime_error
    // for a server key it cannot use.
    SecureChannel finish(ByteView sentClientInit, ByteView serverInit) const;

private:
    crypto::Key m_key;
    Bytes m_point;
    std::optional<Bytes> m_keyMessage;
};

} // namespace tessaly::test
