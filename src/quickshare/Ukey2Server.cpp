#include "quickshare/Ukey2Server.h"

#include "quickshare/CryptoPrimitives.h"
#include "quickshare/QuickShareMessages.h"

namespace tessaly {

namespace {

constexpr std::uint64_t p256Sha512Cipher = 100;
constexpr std::size_t clientRandomSize = 32;
constexpr std::size_t serverRandomSize = 32;

using Ukey2::Alert;
using Ukey2::Refused;

// The commitment offered for P-256 with SHA-512; a list that does not parse counts as empty.
// Entries are read one at a time: a client-init may hold millions of them before anyone is
// authenticated, and only the first usable one is kept.
std::optional<Bytes> commitmentFor(const ProtoMessage& clientInit)
{
    std::optional<Bytes> chosen;
    bool found = false;
    try {
        clientInit.eachMessage(3, [&](const ProtoMessage& entry) {
            if (!found && entry.number(1) == p256Sha512Cipher) {
                found = true;
                chosen = entry.bytes(2);
            }
        });
    } catch (const ProtoMessage::Malformed&) {
        return std::nullopt;
    }
    return chosen;
}

} // namespace

Ukey2Server::Outcome Ukey2Server::handle(ByteView frame)
{
    try {
        switch (m_stage) {
        case Stage::clientInit:
            return handleClientInit(frame);
        case Stage::clientFinish:
            return handleClientFinish(frame);
        case Stage::finished:
        case Stage::refused:
            break;
        }
        throw Refused(Alert::badMessageData);
    } catch (const Refused&) {
        m_stage = Stage::refused;
        m_handshake.reset();
        throw;
    } catch (const crypto::Error&) {
        m_stage = Stage::refused;
        m_handshake.reset();
        throw Refused(Alert::badPublicKey);
    }
}

Bytes Ukey2Server::handleClientInit(ByteView frame)
{
    const ProtoMessage init = Ukey2::open(frame, Ukey2::Kind::clientInit);
    if (init.int32(1) != 1)
        throw Refused(Alert::badVersion);
    const auto random = init.bytesView(2);
    if (!random || random->size() != clientRandomSize)
        throw Refused(Alert::badRandom);
    auto commitment = commitmentFor(init);
    if (!commitment)
        throw Refused(Alert::badHandshakeCipher);
    if (init.string(4) != nextProtocol)
        throw Refused(Alert::badNextProtocol);

    m_commitment = std::move(*commitment);
    m_clientInit.assign(frame.begin(), frame.end());
    m_handshake.emplace();
    m_serverInit = Ukey2::serverInit(randomBytes(serverRandomSize), m_handshake->publicKeyMessage());
    m_stage = Stage::clientFinish;
    return m_serverInit;
}

SecureChannel Ukey2Server::handleClientFinish(ByteView frame)
{
    const ProtoMessage finish = Ukey2::open(frame, Ukey2::Kind::clientFinish);
    // The hash covers the whole envelope as received, so any change to it breaks the commitment.
    if (!crypto::equalInConstantTime(crypto::sha512(frame), m_commitment))
        throw Refused(Alert::badMessageData);
    if (!m_handshake)
        throw Refused(Alert::badMessageData);
    const auto peerKey = finish.bytesView(1);
    if (!peerKey)
        throw Refused(Alert::badMessageData);
    SecureChannel channel = m_handshake->finish(*peerKey, m_clientInit, m_serverInit, true);
    m_handshake.reset();
    m_stage = Stage::finished;
    return channel;
}

} // namespace tessaly
