#include "FuzzTargets.h"

#include "quickshare/QuickShareCrypto.h"
#include "quickshare/QuickShareMessages.h"

#include <optional>

namespace tessaly::fuzz {

namespace {

// A broken invariant stops the run so that the fuzzer keeps the input.
void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void exercise(const ProtoMessage& message, int depth)
{
    for (int field = 1; field <= 8; ++field) {
        const auto number = message.number(field);
        const auto bytes = message.bytes(field);
        require(!(number && bytes));
        require(message.has(field) == (number || bytes));
        require(message.int64(field).has_value() == number.has_value());
        require(message.int32(field).has_value() == number.has_value());
        require(message.boolean(field) == (number && *number != 0));
        if (const auto text = message.string(field))
            require(bytes && text->size() == bytes->size());
        try {
            const auto nested = message.message(field);
            require(nested.has_value() == bytes.has_value());
            if (nested && depth < 3)
                exercise(*nested, depth + 1);
        } catch (const ProtoMessage::Malformed&) {
            require(bytes.has_value());
        }
        try {
            for (const auto& nested : message.messages(field)) {
                if (depth < 3)
                    exercise(nested, depth + 1);
            }
        } catch (const ProtoMessage::Malformed&) {
        }
    }
}

SecretBytes key(std::uint8_t fill)
{
    return SecretBytes(Bytes(32, fill));
}

} // namespace

SecureChannel fixedChannel(bool sender)
{
    if (sender)
        return SecureChannel("0000", key(3), key(4), key(1), key(2));
    return SecureChannel("0000", key(1), key(2), key(3), key(4));
}

Bytes signedForFixedChannel(ByteView body, bool encrypt)
{
    Bytes headerAndBody(body.begin(), body.end());
    if (encrypt) {
        const Bytes iv(16, 0x1F);
        ProtoWriter header;
        header.number(1, 1).number(2, 2).bytes(5, iv);
        headerAndBody = ProtoWriter()
                            .message(1, header)
                            .bytes(2, crypto::aes256Cbc(true, key(3).view(), iv, body))
                            .data();
    }
    const auto signature = crypto::hmacSha256(key(4).view(), headerAndBody);
    return ProtoWriter().bytes(1, headerAndBody).bytes(2, signature).data();
}

Bytes clientInitCommittingTo(ByteView clientFinish)
{
    const auto hash = crypto::sha512(clientFinish);
    ProtoWriter commitment;
    commitment.number(1, 100).bytes(2, hash);
    ProtoWriter init;
    init.number(1, 1).bytes(2, Bytes(32, 0x2A)).message(3, commitment).string(4, Ukey2Server::nextProtocol);
    return Ukey2::message(init.data(), Ukey2::Kind::clientInit);
}

void protoMessage(const std::uint8_t* data, std::size_t size)
{
    try {
        const ProtoMessage message(ByteView(data, size));
        exercise(message, 0);
    } catch (const ProtoMessage::Malformed&) {
    }
}

void offlineFrame(const std::uint8_t* data, std::size_t size)
{
    try {
        const OfflineFrame frame = OfflineFrame::decode(ByteView(data, size));
        require(OfflineFrame::decode(frame.encoded()) == frame);
    } catch (const ProtoMessage::Malformed&) {
    }
}

void sharingFrame(const std::uint8_t* data, std::size_t size)
{
    try {
        SharingFrame frame = SharingFrame::decode(ByteView(data, size));
        // Other things offered are not written back, so they cannot survive a round trip.
        if (auto* intro = std::get_if<SharingFrame::Introduction>(&frame.value))
            intro->hasOtherThings = false;
        const SharingFrame again = SharingFrame::decode(frame.encoded());
        if (frame.as<SharingFrame::PairedKeyEncryption>())
            require(again.as<SharingFrame::PairedKeyEncryption>() != nullptr);
        else
            require(again == frame);
    } catch (const ProtoMessage::Malformed&) {
    }
}

void endpointInfo(const std::uint8_t* data, std::size_t size)
{
    const auto info = EndpointInfo::decode(ByteView(data, size));
    if (info)
        require(EndpointInfo::decode(info->encoded()) == info);
}

void ukey2Open(const std::uint8_t* data, std::size_t size)
{
    const ByteView bytes(data, size);
    for (const auto kind : { Ukey2::Kind::alert, Ukey2::Kind::clientInit, Ukey2::Kind::clientFinish }) {
        try {
            Ukey2::open(bytes, kind);
        } catch (const Ukey2::Refused& refused) {
            require(Ukey2::alertFromRaw(static_cast<std::uint64_t>(refused.alert)).has_value());
        }
    }
    // The same bytes as the first and then the second message of a handshake.
    Ukey2Server server;
    try {
        server.handle(bytes);
        require(server.stage() == Ukey2Server::Stage::clientFinish);
        server.handle(bytes);
        require(false);
    } catch (const Ukey2::Refused&) {
        require(server.stage() == Ukey2Server::Stage::refused);
    }
}

namespace {

// A message the channel refuses leaves its counter alone; one it takes counts once.
std::optional<Bytes> openOnce(SecureChannel& channel, ByteView message)
{
    try {
        Bytes frame = channel.open(message);
        require(channel.received() == 1);
        return frame;
    } catch (const SecureChannel::Failed&) {
    } catch (const ProtoMessage::Malformed&) {
    }
    require(channel.received() == 0);
    return std::nullopt;
}

} // namespace

void secureChannelOpen(const std::uint8_t* data, std::size_t size)
{
    SecureChannel channel = fixedChannel(false);
    const ByteView bytes(data, size);
    if (!openOnce(channel, bytes))
        return;
    try {
        channel.open(bytes);
        require(false);
    } catch (const SecureChannel::Failed&) {
    }
}

void secureChannelSigned(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    const Bytes sealed = signedForFixedChannel(ByteView(data + 1, size - 1), (data[0] & 1) != 0);
    SecureChannel channel = fixedChannel(false);
    const std::optional<Bytes> opened = openOnce(channel, sealed);
    if (!opened)
        return;
    const Bytes& frame = *opened;
    // What was opened travels again through a real seal and open unchanged.
    SecureChannel sender = fixedChannel(true);
    SecureChannel receiver = fixedChannel(false);
    require(receiver.open(sender.seal(frame)) == frame);
}

void ukey2Finish(const std::uint8_t* data, std::size_t size)
{
    const ByteView finish(data, size);
    Ukey2Server server;
    server.handle(clientInitCommittingTo(finish));
    try {
        const SecureChannel channel = std::get<SecureChannel>(server.handle(finish));
        require(server.stage() == Ukey2Server::Stage::finished);
        require(channel.code().size() == 4 && channel.sent() == 0 && channel.received() == 0);
    } catch (const Ukey2::Refused& refused) {
        require(server.stage() == Ukey2Server::Stage::refused);
        // The commitment matched, so only the envelope or the key can be at fault.
        require(refused.alert == Ukey2::Alert::badMessage || refused.alert == Ukey2::Alert::badMessageType
            || refused.alert == Ukey2::Alert::badMessageData || refused.alert == Ukey2::Alert::badPublicKey);
    }
}

} // namespace tessaly::fuzz
