#include "quickshare/QuickShareMessages.h"

#include <cstdlib>

#include <openssl/rand.h>

namespace tessaly {

Bytes randomBytes(std::size_t count)
{
    Bytes result(count);
    // The system random source does not fail on a working Linux; carrying on with predictable
    // keys or IVs would be far worse than stopping.
    if (count > 0 && RAND_bytes(result.data(), static_cast<int>(count)) != 1)
        std::abort();
    return result;
}

std::optional<EndpointInfo::Kind> EndpointInfo::kindFromRaw(std::uint64_t raw)
{
    if (raw > static_cast<std::uint64_t>(Kind::headset))
        return std::nullopt;
    return static_cast<Kind>(raw);
}

std::optional<EndpointInfo> EndpointInfo::decode(ByteView data)
{
    constexpr std::size_t nameLengthAt = 17;
    if (data.size() < nameLengthAt)
        return std::nullopt;
    const std::uint8_t flags = data[0];
    EndpointInfo info;
    info.kind = kindFromRaw((flags >> 1) & 0x07).value_or(Kind::unknown);
    const bool hasNoName = (flags & 0x10) != 0;
    if (hasNoName || data.size() == nameLengthAt)
        return info;
    const std::size_t length = data[nameLengthAt];
    if (data.size() < nameLengthAt + 1 + length)
        return std::nullopt;
    const ByteView nameBytes = data.subspan(nameLengthAt + 1, length);
    if (!ProtoWire::isValidUtf8(nameBytes))
        return std::nullopt;
    info.name.assign(nameBytes.begin(), nameBytes.end());
    return info;
}

Bytes EndpointInfo::encoded() const
{
    ByteView cut(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
    if (cut.size() > 255)
        cut = cut.first(255);
    // A cut inside a multi-byte character drops that character.
    while (!cut.empty() && !ProtoWire::isValidUtf8(cut))
        cut = cut.first(cut.size() - 1);

    Bytes out;
    out.reserve(18 + cut.size());
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint8_t>(kind) << 1));
    const Bytes filler = randomBytes(16);
    out.insert(out.end(), filler.begin(), filler.end());
    out.push_back(static_cast<std::uint8_t>(cut.size()));
    out.insert(out.end(), cut.begin(), cut.end());
    return out;
}

namespace Ukey2 {

std::optional<Alert> alertFromRaw(std::uint64_t raw)
{
    switch (raw) {
    case 1:
    case 2:
    case 4:
    case 100:
    case 101:
    case 102:
    case 103:
    case 104:
        return static_cast<Alert>(raw);
    default:
        return std::nullopt;
    }
}

Refused::Refused(Alert refusal)
    : std::runtime_error(
        "the secure connection was refused (alert " + std::to_string(static_cast<int>(refusal)) + ")")
    , alert(refusal)
{
}

ProtoMessage open(ByteView data, Kind expecting)
{
    std::optional<ProtoMessage> envelope;
    try {
        envelope.emplace(data);
    } catch (const ProtoMessage::Malformed&) {
        throw Refused(Alert::badMessage);
    }
    if (envelope->number(1) != static_cast<std::uint64_t>(expecting))
        throw Refused(Alert::badMessageType);
    try {
        auto inner = envelope->message(2);
        if (!inner)
            throw Refused(Alert::badMessageData);
        return std::move(*inner);
    } catch (const ProtoMessage::Malformed&) {
        throw Refused(Alert::badMessageData);
    }
}

Bytes message(ByteView data, Kind kind)
{
    ProtoWriter writer;
    writer.number(1, static_cast<std::uint64_t>(kind)).bytes(2, data);
    return std::move(writer).data();
}

Bytes serverInit(ByteView random, ByteView publicKey)
{
    constexpr std::uint64_t p256Sha512 = 100;
    ProtoWriter inner;
    inner.number(1, 1).bytes(2, random).number(3, p256Sha512).bytes(4, publicKey);
    return message(inner.data(), Kind::serverInit);
}

Bytes alert(Alert alert)
{
    ProtoWriter inner;
    inner.number(1, static_cast<std::uint64_t>(alert));
    return message(inner.data(), Kind::alert);
}

} // namespace Ukey2

} // namespace tessaly
