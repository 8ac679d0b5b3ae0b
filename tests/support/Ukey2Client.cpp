#include "support/Ukey2Client.h"

#include <stdexcept>

#include "quickshare/QuickShareHandshake.h"
#include "quickshare/QuickShareMessages.h"

namespace tessaly::test {

namespace {

ByteView ascii(std::string_view text)
{
    return { reinterpret_cast<const std::uint8_t*>(text.data()), text.size() };
}

} // namespace

Ukey2Client::Ukey2Client()
    : m_key(crypto::p256Generate())
    , m_point(crypto::p256PublicKey(m_key.get()))
{
    ProtoWriter key;
    key.bytes(1, QuickShareHandshake::coordinateBytes(x()))
        .bytes(2, QuickShareHandshake::coordinateBytes(y()));
    m_keyMessage = ProtoWriter().number(1, 1).message(2, key).data();
}

Bytes Ukey2Client::clientFinish() const
{
    ProtoWriter inner;
    if (m_keyMessage)
        inner.bytes(1, *m_keyMessage);
    return Ukey2::message(inner.data(), Ukey2::Kind::clientFinish);
}

Bytes Ukey2Client::commitment() const
{
    const auto hash = crypto::sha512(clientFinish());
    return Bytes(hash.begin(), hash.end());
}

Bytes Ukey2Client::clientInit(const InitFields& fields) const
{
    ProtoWriter inner;
    if (fields.version)
        inner.number(1, *fields.version);
    inner.bytes(2, fields.random.value_or(randomBytes(32)));
    for (const auto& entry :
        fields.commitments.value_or(std::vector { InitFields::Commitment { 100, commitment() } })) {
        ProtoWriter cipher;
        if (entry.cipher)
            cipher.number(1, *entry.cipher);
        if (entry.hash)
            cipher.bytes(2, *entry.hash);
        inner.message(3, cipher);
    }
    if (fields.nextProtocol)
        inner.string(4, *fields.nextProtocol);
    return Ukey2::message(inner.data(), Ukey2::Kind::clientInit);
}

SecureChannel Ukey2Client::finish(ByteView sentClientInit, ByteView serverInit) const
{
    const ProtoMessage init = Ukey2::open(serverInit, Ukey2::Kind::serverInit);
    const auto key = ProtoMessage(init.bytes(4).value_or(Bytes {})).message(2);
    // A missing coordinate reads as zero, which is not on the curve.
    auto point = QuickShareHandshake::fieldBytes(key ? key->bytes(1).value_or(Bytes {}) : Bytes {});
    const auto y = QuickShareHandshake::fieldBytes(key ? key->bytes(2).value_or(Bytes {}) : Bytes {});
    if (!point || !y)
        throw std::runtime_error("unusable server key");
    point->insert(point->end(), y->begin(), y->end());
    const auto peer = crypto::p256FromPublicKey(*point);
    if (!peer)
        throw std::runtime_error("server key not on the curve");

    const auto dhs = crypto::sha256(crypto::p256SharedSecret(m_key.get(), peer.get()).view());
    Bytes info(sentClientInit.begin(), sentClientInit.end());
    info.insert(info.end(), serverInit.begin(), serverInit.end());
    const auto auth = crypto::hkdfSha256(dhs, ascii("UKEY2 v1 auth"), info, 32);
    const auto next = crypto::hkdfSha256(dhs, ascii("UKEY2 v1 next"), info, 32);
    const auto d2d = crypto::sha256(ascii("D2D")), sm = crypto::sha256(ascii("SecureMessage"));
    const auto client = crypto::hkdfSha256(next.view(), d2d, ascii("client"), 32);
    const auto server = crypto::hkdfSha256(next.view(), d2d, ascii("server"), 32);
    const auto derive = [&](const SecretBytes& base, std::string_view purpose) {
        return crypto::hkdfSha256(base.view(), sm, ascii(purpose), 32);
    };
    return SecureChannel(QuickShareHandshake::code(auth.view()), derive(client, "ENC:2"),
        derive(client, "SIG:1"), derive(server, "ENC:2"), derive(server, "SIG:1"));
}

} // namespace tessaly::test
