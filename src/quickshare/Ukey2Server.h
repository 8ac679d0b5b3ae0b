#pragma once

#include <optional>
#include <variant>

#include "quickshare/QuickShareHandshake.h"
#include "quickshare/QuickShareWire.h"
#include "quickshare/SecureChannel.h"

namespace tessaly {

// The receiving side of the UKEY2 handshake, driven frame by frame by the inbound connection:
// a client-init is answered with the server-init to send, a client-finish with the finished
// channel. A refusal raises Ukey2::Refused carrying the alert owed to the phone; after it the
// server is spent and refuses everything. The ephemeral key lives only between the two messages.
class Ukey2Server {
public:
    enum class Stage { clientInit, clientFinish, finished, refused };

    // Bytes: the server-init envelope to send unencrypted. SecureChannel: the handshake is done.
    using Outcome = std::variant<Bytes, SecureChannel>;

    Outcome handle(ByteView frame);
    Stage stage() const { return m_stage; }

    static constexpr std::string_view nextProtocol = "AES_256_CBC-HMAC_SHA256";

private:
    Bytes handleClientInit(ByteView frame);
    SecureChannel handleClientFinish(ByteView frame);

    Stage m_stage = Stage::clientInit;
    Bytes m_clientInit;
    Bytes m_serverInit;
    Bytes m_commitment;
    std::optional<QuickShareHandshake> m_handshake;
};

} // namespace tessaly
