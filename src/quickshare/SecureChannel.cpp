#include "quickshare/SecureChannel.h"

#include <cstring>
#include <limits>

#include "quickshare/CryptoPrimitives.h"
#include "quickshare/QuickShareMessages.h"

namespace tessaly {

namespace {

constexpr std::uint64_t hmacSha256Scheme = 1;
constexpr std::uint64_t aes256CbcScheme = 2;
constexpr std::uint64_t deviceToDeviceMessage = 13;
constexpr std::size_t ivSize = 16;

std::optional<ByteView> lastBytes(ByteView message, int field)
{
    const auto found = ProtoWire::last(message, field);
    if (!found || found->type != ProtoWire::WireType::bytes)
        return std::nullopt;
    return found->bytes;
}

std::optional<std::uint64_t> lastNumber(ByteView message, int field)
{
    const auto found = ProtoWire::last(message, field);
    if (!found || found->type != ProtoWire::WireType::varint)
        return std::nullopt;
    return found->value;
}

struct Layers {
    ByteView headerAndBody;
    ByteView signature;
};

Layers signedLayers(ByteView data)
{
    try {
        const auto headerAndBody = lastBytes(data, 1);
        const auto signature = lastBytes(data, 2);
        if (!headerAndBody || !signature)
            throw SecureChannel::Failed();
        return { *headerAndBody, *signature };
    } catch (const ProtoMessage::Malformed&) {
        throw SecureChannel::Failed();
    }
}

struct Encrypted {
    ByteView iv;
    ByteView body;
};

Encrypted encryptedLayers(ByteView headerAndBody)
{
    try {
        const auto header = lastBytes(headerAndBody, 1);
        const auto body = lastBytes(headerAndBody, 2);
        if (!header || !body)
            throw SecureChannel::Failed();
        ProtoWire::validate(*header);
        const auto iv = lastBytes(*header, 5);
        if (lastNumber(*header, 1) != hmacSha256Scheme || lastNumber(*header, 2) != aes256CbcScheme || !iv)
            throw SecureChannel::Failed();
        return { *iv, *body };
    } catch (const ProtoMessage::Malformed&) {
        throw SecureChannel::Failed();
    }
}

} // namespace

SecureChannel::Failed::Failed()
    : std::runtime_error("a message failed its security check")
{
}

SecureChannel::SecureChannel(std::string code, SecretBytes encryptKey, SecretBytes sendSigningKey,
    SecretBytes decryptKey, SecretBytes receiveSigningKey, std::int32_t sent, std::int32_t received)
    : m_code(std::move(code))
    , m_encryptKey(std::move(encryptKey))
    , m_sendSigningKey(std::move(sendSigningKey))
    , m_decryptKey(std::move(decryptKey))
    , m_receiveSigningKey(std::move(receiveSigningKey))
    , m_sent(sent)
    , m_received(received)
{
}

Bytes SecureChannel::seal(ByteView message)
{
    if (m_sent == std::numeric_limits<std::int32_t>::max())
        throw Failed();
    const std::int32_t sequence = m_sent + 1;
    try {
        ProtoWriter plaintext;
        plaintext.bytes(1, message).number(2, static_cast<std::uint64_t>(sequence));
        const Bytes iv = randomBytes(ivSize);
        const Bytes ciphertext = crypto::aes256Cbc(true, m_encryptKey.view(), iv, plaintext.data());

        ProtoWriter metadata;
        metadata.number(1, deviceToDeviceMessage).number(2, 1);
        ProtoWriter header;
        header.number(1, hmacSha256Scheme).number(2, aes256CbcScheme).bytes(5, iv).message(6, metadata);
        ProtoWriter headerAndBody;
        headerAndBody.message(1, header).bytes(2, ciphertext);
        const auto signature = crypto::hmacSha256(m_sendSigningKey.view(), headerAndBody.data());

        ProtoWriter envelope;
        envelope.message(1, headerAndBody).bytes(2, signature);
        m_sent = sequence;
        return std::move(envelope).data();
    } catch (const crypto::Error&) {
        throw Failed();
    }
}

Bytes SecureChannel::open(ByteView data)
{
    const Layers layers = signedLayers(data);
    try {
        const auto expected = crypto::hmacSha256(m_receiveSigningKey.view(), layers.headerAndBody);
        if (!crypto::equalInConstantTime(expected, layers.signature))
            throw Failed();
    } catch (const crypto::Error&) {
        throw Failed();
    }

    const Encrypted encrypted = encryptedLayers(layers.headerAndBody);
    Bytes plaintext;
    try {
        plaintext = crypto::aes256Cbc(false, m_decryptKey.view(), encrypted.iv, encrypted.body);
    } catch (const crypto::Error&) {
        throw Failed();
    }

    // An authentic plaintext that is not a message raises Malformed from here.
    const auto frame = lastBytes(plaintext, 1);
    const auto sequence = ProtoWire::last(plaintext, 2);
    if (m_received == std::numeric_limits<std::int32_t>::max())
        throw Failed();
    const std::int32_t next = m_received + 1;
    if (!frame || !sequence || sequence->type != ProtoWire::WireType::varint
        || static_cast<std::int32_t>(static_cast<std::uint32_t>(sequence->value & 0xFFFFFFFFu)) != next)
        throw Failed();

    // The frame is moved to the front of the decrypted buffer rather than copied out of it.
    const std::size_t offset = static_cast<std::size_t>(frame->data() - plaintext.data());
    const std::size_t size = frame->size();
    if (size > 0)
        std::memmove(plaintext.data(), plaintext.data() + offset, size);
    plaintext.resize(size);
    m_received = next;
    return plaintext;
}

} // namespace tessaly
