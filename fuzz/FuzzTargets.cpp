#include "FuzzTargets.h"

#include "quickshare/QuickShareCrypto.h"
#include "quickshare/QuickShareMessages.h"

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

void secureChannelOpen(const std::uint8_t* data, std::size_t size)
{
    SecureChannel channel = fixedChannel(false);
    const ByteView bytes(data, size);
    try {
        channel.open(bytes);
    } catch (const SecureChannel::Failed&) {
        require(channel.received() == 0);
        return;
    } catch (const ProtoMessage::Malformed&) {
        require(channel.received() == 0);
        return;
    }
    require(channel.received() == 1);
    try {
        channel.open(bytes);
        require(false);
    } catch (const SecureChannel::Failed&) {
    }
}

} // namespace tessaly::fuzz
