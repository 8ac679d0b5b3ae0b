#include "support/Ukey2Client.h"

#include <stdexcept>
#include <string_view>

#include "quickshare/QuickShareHandshake.h"
#include "quickshare/QuickShareMessages.h"

namespace tessaly::test {

namespace {

ByteView ascii(std::string_view text)
{
    return { reinterpret_cast<const std::uint8_t*>(text.data()), text.size() };
}

Bytes leftPadded(ByteView coordinate)
{
    while (!coordinate.empty() && coordinate.front() == 0)
        coordinate = coordinate.subspan(1);
    if (coordinate.size() > 32)
        throw std::runtime_error("server coordinate too long");
    Bytes out(32 - coordinate.size(), 0);
    out.insert(out.end(), coordinate.begin(), coordinate.end());
    return out;
}

} // namespace

Ukey2Client::Ukey2Client()
    : m_key(crypto::p256Generate())
    , m_point(crypto::p256PublicKey(m_key.get()))
{
    ProtoWriter key;
    key.bytes(1, QuickShareHandshake::coordinateBytes(x()))
        .bytes(2, QuickShareHandshake::coordinateBytes(y()));
    ProtoWriter message;
    message.number(1, 1).message(2, key);
    m_keyMessage = std::move(message).data();
}

Bytes Ukey2Client::x() const
{
    return Bytes(m_point.begin(), m_point.begin() + 32);
}
Bytes Ukey2Client::y() const
{
    return Bytes(m_point.begin() + 32, m_point.end());
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
    inner.bytes(2, fields.random ? *fields.random : randomBytes(32));
    const auto commitments
        = fields.commitments.value_or(std::vector<InitFields::Commitment> { { 100, commitment() } });
    for (const auto& entry : commitments) {
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
    if (init.number(1) != 1u || init.number(3) != 100u || !init.bytes(2) || init.bytes(2)->size() != 32)
        throw std::runtime_error("unusable server-init");
    const auto keyMessage = ProtoMessage(init.bytes(4).value_or(Bytes {}));
    const auto key = keyMessage.message(2);
    if (keyMessage.number(1) != 1u || !key || !key->bytes(1) || !key->bytes(2))
        throw std::runtime_error("unusable server key");
    Bytes point = leftPadded(*key->bytes(1));
    const Bytes y = leftPadded(*key->bytes(2));
    point.insert(point.end(), y.begin(), y.end());
    const auto peer = crypto::p256FromPublicKey(point);
    if (!peer)
        throw std::runtime_error("server key not on the curve");

    const SecretBytes shared = crypto::p256SharedSecret(m_key.get(), peer.get());
    const auto dhs = crypto::sha256(shared.view());
    Bytes info(sentClientInit.begin(), sentClientInit.end());
    info.insert(info.end(), serverInit.begin(), serverInit.end());
    const auto auth = crypto::hkdfSha256(dhs, ascii("UKEY2 v1 auth"), info, 32);
    const auto next = crypto::hkdfSha256(dhs, ascii("UKEY2 v1 next"), info, 32);
    const auto d2d = crypto::sha256(ascii("D2D"));
    const auto client = crypto::hkdfSha256(next.view(), d2d, ascii("client"), 32);
    const auto server = crypto::hkdfSha256(next.view(), d2d, ascii("server"), 32);
    const auto sm = crypto::sha256(ascii("SecureMessage"));
    return SecureChannel(QuickShareHandshake::code(auth.view()),
        crypto::hkdfSha256(client.view(), sm, ascii("ENC:2"), 32),
        crypto::hkdfSha256(client.view(), sm, ascii("SIG:1"), 32),
        crypto::hkdfSha256(server.view(), sm, ascii("ENC:2"), 32),
        crypto::hkdfSha256(server.view(), sm, ascii("SIG:1"), 32));
}

} // namespace tessaly::test
