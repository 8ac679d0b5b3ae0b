#include "quickshare/QuickShareHandshake.h"

#include <algorithm>
#include <cstdio>

#include <openssl/crypto.h>

#include "quickshare/QuickShareMessages.h"

namespace tessaly {

namespace {

constexpr std::uint64_t p256KeyType = 1;
constexpr std::size_t coordinateSize = 32;

ByteView ascii(std::string_view text)
{
    return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

struct KeyPair {
    SecretBytes encryption;
    SecretBytes signing;
};

KeyPair secureMessageKeys(const SecretBytes& key)
{
    const auto salt = crypto::sha256(ascii("SecureMessage"));
    return { crypto::hkdfSha256(key.view(), salt, ascii("ENC:2"), 32),
        crypto::hkdfSha256(key.view(), salt, ascii("SIG:1"), 32) };
}

SecureChannel deriveChannel(
    const SecretBytes& sharedSecret, ByteView clientInit, ByteView serverInit, bool asServer)
{
    auto digest = crypto::sha256(sharedSecret.view());
    const SecretBytes inputKey(digest);
    OPENSSL_cleanse(digest.data(), digest.size());

    Bytes info(clientInit.begin(), clientInit.end());
    info.insert(info.end(), serverInit.begin(), serverInit.end());
    const SecretBytes authString = crypto::hkdfSha256(inputKey.view(), ascii("UKEY2 v1 auth"), info, 32);
    const SecretBytes nextSecret = crypto::hkdfSha256(inputKey.view(), ascii("UKEY2 v1 next"), info, 32);

    const auto d2dSalt = crypto::sha256(ascii("D2D"));
    const SecretBytes clientKey = crypto::hkdfSha256(nextSecret.view(), d2dSalt, ascii("client"), 32);
    const SecretBytes serverKey = crypto::hkdfSha256(nextSecret.view(), d2dSalt, ascii("server"), 32);

    KeyPair sending = secureMessageKeys(asServer ? serverKey : clientKey);
    KeyPair receiving = secureMessageKeys(asServer ? clientKey : serverKey);
    return SecureChannel(QuickShareHandshake::code(authString.view()), std::move(sending.encryption),
        std::move(sending.signing), std::move(receiving.encryption), std::move(receiving.signing));
}

// x ‖ y of a public-key message; none when it is not a readable P-256 key message.
std::optional<Bytes> peerPoint(ByteView keyMessage)
{
    try {
        const ProtoMessage message(keyMessage);
        if (message.number(1) != p256KeyType)
            return std::nullopt;
        const auto key = message.message(2);
        if (!key)
            return std::nullopt;
        const auto x = key->bytesView(1);
        const auto y = key->bytesView(2);
        if (!x || !y)
            return std::nullopt;
        auto point = QuickShareHandshake::fieldBytes(*x);
        const auto yField = QuickShareHandshake::fieldBytes(*y);
        if (!point || !yField)
            return std::nullopt;
        point->insert(point->end(), yField->begin(), yField->end());
        return point;
    } catch (const ProtoMessage::Malformed&) {
        return std::nullopt;
    }
}

} // namespace

QuickShareHandshake::QuickShareHandshake()
    : m_privateKey(crypto::p256Generate())
{
}

QuickShareHandshake::QuickShareHandshake(crypto::Key privateKey)
    : m_privateKey(std::move(privateKey))
{
}

Bytes QuickShareHandshake::publicKeyMessage() const
{
    const Bytes point = crypto::p256PublicKey(m_privateKey.get());
    const ByteView xy(point);
    ProtoWriter key;
    key.bytes(1, coordinateBytes(xy.first(coordinateSize)))
        .bytes(2, coordinateBytes(xy.last(coordinateSize)));
    ProtoWriter message;
    message.number(1, p256KeyType).message(2, key);
    return std::move(message).data();
}

SecureChannel QuickShareHandshake::finish(
    ByteView peerKeyMessage, ByteView clientInit, ByteView serverInit, bool asServer) const
{
    const auto point = peerPoint(peerKeyMessage);
    if (!point)
        throw Ukey2::Refused(Ukey2::Alert::badPublicKey);
    const crypto::Key peer = crypto::p256FromPublicKey(*point);
    if (!peer)
        throw Ukey2::Refused(Ukey2::Alert::badPublicKey);
    try {
        const SecretBytes sharedSecret = crypto::p256SharedSecret(m_privateKey.get(), peer.get());
        return deriveChannel(sharedSecret, clientInit, serverInit, asServer);
    } catch (const crypto::Error&) {
        throw Ukey2::Refused(Ukey2::Alert::badPublicKey);
    }
}

Bytes QuickShareHandshake::coordinateBytes(ByteView bytes)
{
    const auto first = std::find_if(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; });
    if (first == bytes.end())
        return Bytes { 0x00 };
    Bytes result;
    if ((*first & 0x80) != 0)
        result.push_back(0x00);
    result.insert(result.end(), first, bytes.end());
    return result;
}

std::optional<Bytes> QuickShareHandshake::fieldBytes(ByteView bytes)
{
    const auto first = std::find_if(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b != 0; });
    const auto significant = static_cast<std::size_t>(bytes.end() - first);
    if (significant > coordinateSize)
        return std::nullopt;
    Bytes result(coordinateSize - significant, 0x00);
    result.insert(result.end(), first, bytes.end());
    return result;
}

std::string QuickShareHandshake::code(ByteView authString)
{
    constexpr std::int64_t modulus = 9973;
    std::int64_t hash = 0;
    std::int64_t multiplier = 1;
    for (const std::uint8_t byte : authString) {
        const auto value = static_cast<std::int8_t>(byte);
        // The remainder truncates toward zero, so the hash may go negative; the code is its magnitude.
        hash = (hash + value * multiplier) % modulus;
        multiplier = (multiplier * 31) % modulus;
    }
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04d", static_cast<int>(hash < 0 ? -hash : hash));
    return digits;
}

} // namespace tessaly
