#include <gtest/gtest.h>

#include "quickshare/QuickShareMessages.h"
#include "quickshare/QuickShareWire.h"
#include "support/QuickShareFakes.h"

namespace tessaly {
namespace {

using test::hex;

ProtoMessage parse(std::initializer_list<std::uint8_t> bytes)
{
    return ProtoMessage(Bytes(bytes));
}

TEST(ProtoMessage_Parse, RejectsBrokenWireForms)
{
    const std::vector<Bytes> malformed = {
        { 0x08 }, // key without value
        { 0x00 }, // field 0
        { 0x80, 0x80, 0x80, 0x80, 0x10, 0x00 }, // key of 2^32
        { 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x00 }, // 11-byte varint
        { 0x08, 0x80 }, // varint runs off the end
        { 0x12, 0x03, 0x61, 0x62 }, // length past the end
        { 0x12 }, // length missing
        { 0x09, 1, 2, 3, 4, 5, 6, 7 }, // 64-bit field cut short
        { 0x0D, 1, 2, 3 }, // 32-bit field cut short
        { 0x0B }, { 0x0C }, { 0x0E }, { 0x0F }, // wire types 3, 4, 6, 7
    };
    for (const auto& bytes : malformed)
        EXPECT_THROW(ProtoMessage { bytes }, ProtoMessage::Malformed) << testing::PrintToString(bytes);
}

TEST(ProtoMessage_Parse, ReadsVarintsAndBytesAndSkipsFixedWidthFields)
{
    EXPECT_EQ(parse({ 0x08, 0x96, 0x01 }).number(1), 150u);
    EXPECT_EQ(parse({ 0x12, 0x00 }).bytes(2), Bytes {});
    for (const std::uint8_t last : { 0x01, 0x7F }) // the tenth byte gives only its lowest bit
        EXPECT_EQ(parse({ 0x08, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, last }).number(1),
            std::uint64_t { 1 } << 63);
    EXPECT_EQ(parse({ 0xF8, 0xFF, 0xFF, 0xFF, 0x0F, 0x05 }).number((1 << 29) - 1), 5u); // top field number
    const auto fixed = parse({ 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 0x15, 1, 2, 3, 4, 0x10, 0x01 });
    EXPECT_FALSE(fixed.has(1));
    EXPECT_EQ(fixed.number(2), 1u);

    const ProtoMessage empty(Bytes {});
    EXPECT_FALSE(empty.number(1) || empty.int64(1) || empty.int32(1) || empty.boolean(1) || empty.bytes(1)
        || empty.string(1) || empty.message(1) || !empty.messages(1).empty());
}

TEST(ProtoMessage_Accessors, LastOccurrenceWinsAndWrongKindReadsAbsent)
{
    EXPECT_EQ(parse({ 0x08, 0x05, 0x08, 0x07 }).number(1), 7u);
    const auto mixed = parse({ 0x0A, 0x01, 0x61, 0x08, 0x09 });
    EXPECT_FALSE(mixed.bytes(1) || mixed.string(1) || mixed.message(1));
    EXPECT_EQ(mixed.number(1), 9u);
    const auto text = parse({ 0x08, 0x01, 0x0A, 0x02, 0x68, 0x69 });
    EXPECT_FALSE(text.number(1) || text.boolean(1));
    EXPECT_EQ(text.string(1), "hi");
}

TEST(ProtoMessage_Accessors, StringsMustBeUtf8)
{
    const std::vector<std::pair<Bytes, bool>> cases = {
        { { 0xC3, 0xA9 }, true }, // é
        { { 0xF0, 0x9F, 0x98, 0x80 }, true }, // emoji
        { { 0xC3 }, false }, // cut sequence
        { { 0xC0, 0xAF }, false }, // overlong
        { { 0xED, 0xA0, 0x80 }, false }, // surrogate
        { { 0xF4, 0x90, 0x80, 0x80 }, false }, // above U+10FFFF
        { { 0xFF }, false },
    };
    for (const auto& [text, valid] : cases) {
        Bytes wire = { 0x0A, static_cast<std::uint8_t>(text.size()) };
        wire.insert(wire.end(), text.begin(), text.end());
        EXPECT_EQ(ProtoMessage(wire).string(1).has_value(), valid) << testing::PrintToString(text);
    }
}

TEST(ProtoMessage_Nested, ParsedOnDemandAndNeverMerged)
{
    // f1 = {f1 = 1}, f1 = {f2 = 2}, f1 = varint 3, f2 = bytes that are not a message.
    const auto message
        = parse({ 0x0A, 0x02, 0x08, 0x01, 0x0A, 0x02, 0x10, 0x02, 0x08, 0x03, 0x12, 0x01, 0x08 });
    const auto all = message.messages(1);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].number(1), 1u);
    EXPECT_EQ(all[1].number(2), 2u);
    EXPECT_FALSE(message.message(1)) << "the last value of f1 is a varint";
    EXPECT_THROW(message.message(2), ProtoMessage::Malformed);
    EXPECT_THROW(message.messages(2), ProtoMessage::Malformed);

    const auto single = parse({ 0x0A, 0x02, 0x08, 0x01, 0x0A, 0x02, 0x10, 0x02 }).message(1);
    ASSERT_TRUE(single);
    EXPECT_FALSE(single->has(1));
    EXPECT_EQ(single->number(2), 2u);
}

TEST(ProtoWriter_Encoding, SignedAndLongValuesReadBack)
{
    const Bytes minusOne = ProtoWriter().signedNumber(1, -1).data();
    EXPECT_EQ(minusOne, (Bytes { 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01 }));
    EXPECT_EQ(ProtoMessage(minusOne).int64(1), -1);
    EXPECT_EQ(ProtoMessage(minusOne).int32(1), -1);
    EXPECT_EQ(parse({ 0x08, 0x81, 0x80, 0x80, 0x80, 0x10 }).int32(1), 1); // higher bits dropped
    EXPECT_EQ(parse({ 0x08, 0x02 }).boolean(1), true);
    for (const std::uint64_t value : { 0ull, 127ull, 128ull, 16384ull, 0xFFFFFFFFull, ~0ull })
        EXPECT_EQ(ProtoMessage(ProtoWriter().number(7, value).data()).number(7), value);
    const Bytes big(70000, 0xAB);
    EXPECT_EQ(ProtoMessage(ProtoWriter().bytes(1, big).data()).bytes(1), big);
}

using Piece = OfflineFrame::PayloadPiece;

TEST(QuickShareFrames_Encoding, WorkedEncodingsByteForByte)
{
    const std::vector<std::pair<Bytes, std::string_view>> cases = {
        { OfflineFrame { OfflineFrame::KeepAlive { true } }.encoded(), "08 01 12 06 08 05 32 02 08 01" },
        { OfflineFrame { OfflineFrame::Disconnection {} }.encoded(), "08 01 12 04 08 06 3A 00" },
        { OfflineFrame { OfflineFrame::ConnectionResponse { true } }.encoded(),
            "08 01 12 0C 08 02 1A 08 08 00 18 01 22 02 08 04" },
        { SharingFrame { SharingFrame::Cancel {} }.encoded(), "08 01 12 02 08 06" },
        { SharingFrame { SharingFrame::Response { SharingFrame::Answer::accept } }.encoded(),
            "08 01 12 06 08 02 1A 02 08 01" },
        { Ukey2::alert(Ukey2::Alert::badVersion), "08 01 12 02 08 64" },
        { OfflineFrame { Piece { 1, Piece::Kind::bytes, 3, 0, false, { 0x61, 0x62, 0x63 } } }.encoded(),
            "08 01 12 1B 08 03 22 17 08 01 12 08 08 01 10 01 18 03 20 00 1A 09 08 00 10 00 1A 03 61 62 63" },
        { OfflineFrame { OfflineFrame::PayloadStopped { 7 } }.encoded(),
            "08 01 12 0E 08 03 22 0A 08 02 12 02 08 07 22 02 08 02" },
        // Less common forms: an empty last piece has no body field; other is the type alone.
        { OfflineFrame { Piece { 1, Piece::Kind::file, 3, 3, true, {} } }.encoded(),
            "08 01 12 16 08 03 22 12 08 01 12 08 08 01 10 02 18 03 20 00 1A 04 08 01 10 03" },
        { OfflineFrame { OfflineFrame::Other {} }.encoded(), "08 01 12 02 08 00" },
        { OfflineFrame { OfflineFrame::ConnectionResponse { false } }.encoded(),
            "08 01 12 0C 08 02 1A 08 08 00 18 02 22 02 08 04" },
        { SharingFrame { SharingFrame::PairedKeyResult {} }.encoded(), "08 01 12 06 08 04 2A 02 08 03" },
    };
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(bytes, hex(expected)) << expected;
}

// Each wire form decodes to its frame, or (none) raises Malformed.
template <typename Frame>
void expectDecodes(const std::vector<std::pair<std::string_view, std::optional<Frame>>>& cases)
{
    for (const auto& [wire, expected] : cases) {
        if (expected)
            EXPECT_EQ(Frame::decode(hex(wire)), *expected) << wire;
        else
            EXPECT_THROW(Frame::decode(hex(wire)), ProtoMessage::Malformed) << wire;
    }
}

TEST(OfflineFrame_Decode, DefaultsOtherAndMalformed)
{
    using F = OfflineFrame;
    const std::vector<std::pair<std::string_view, std::optional<F>>> cases = {
        { "08 01", F { F::Other {} } }, // version only
        { "08 01 12 02 08 04", F { F::Other {} } }, // a type not read
        { "08 01 12 02 10 01", F { F::Other {} } }, // no type
        { "08 01 12 02 08 05", F { F::KeepAlive { false } } }, // keep-alive without body
        { "08 01 12 02 08 06", F { F::Disconnection {} } }, // disconnection without body
        { "08 01 12 04 08 02 1A 00", F { F::ConnectionResponse { true } } }, // no f3
        { "08 01 12 06 08 02 1A 02 18 02", F { F::ConnectionResponse { false } } }, // f3 = 2
        { "08 01 12 06 08 02 1A 02 18 05", F { F::ConnectionResponse { true } } }, // f3 = 5
        { "08 01 12 02 08 02", std::nullopt }, // response without body
        { "08 01 12 02 08 01", std::nullopt }, // request without body
        { "08 01 12 08 08 01 12 04 0A 02 41 42", std::nullopt }, // request without info
        { "08 01 12 09 08 01 12 05 0A 01 FF 32 00",
            F { F::ConnectionRequest { "", {} } } }, // invalid UTF-8 id
        { "08 01 12 06 08 03 22 02 08 01", std::nullopt }, // payload without header
        { "08 01 12 08 08 03 22 04 12 02 10 01", std::nullopt }, // header without id
        { "08 01 12 0A 08 03 22 06 08 02 12 02 08 09", F { F::PayloadStopped { 9 } } }, // control, no chunk
        { "08 01 12 0C 08 03 22 08 12 06 08 01 10 03 18 05", F { F::Other {} } }, // payload type 3
        { "08 01 12 0A 08 03 22 06 12 04 08 01 18 05", F { F::Other {} } }, // no payload type
        { "08 01 12 0C 08 03 22 08 12 06 08 01 10 01 18 05", F { F::Other {} } }, // no chunk
        { "08 01 12 0E 08 03 22 0A 12 04 08 01 10 02 1A 02 08 03",
            F { Piece { 1, Piece::Kind::file, 0, 0, true, {} } } }, // flags 3, size and offset absent
        { "08 01 12 03 08 05 32", std::nullopt }, // not a message
        { "08 01 12 04 08 05 32 01", std::nullopt }, // keep-alive body runs off
    };
    expectDecodes(cases);
}

TEST(SharingFrame_Decode, DefaultsOtherAndMalformed)
{
    using S = SharingFrame;
    using Kind = S::TextOffer::Kind;
    const auto reject = S { S::Response { S::Answer::reject } };
    const std::vector<std::pair<std::string_view, std::optional<S>>> cases = {
        { "08 01", S { S::Other {} } }, { "08 01 12 00", S { S::Other {} } }, // body without type
        { "08 01 12 02 08 05", S { S::Other {} } }, { "08 01 12 02 08 06", S { S::Cancel {} } },
        { "08 01 12 02 08 03", S { S::PairedKeyEncryption {} } },
        { "08 01 12 02 08 04", S { S::PairedKeyResult {} } },
        { "08 01 12 02 08 02", reject }, // no response message
        { "08 01 12 06 08 02 1A 02 08 00", reject }, { "08 01 12 06 08 02 1A 02 08 06", reject },
        { "08 01 12 06 08 02 1A 02 08 03", S { S::Response { S::Answer::notEnoughSpace } } },
        { "08 01 12 02 08 01", std::nullopt }, // introduction missing
        { "08 01 12 06 08 01 12 02 0A 00", std::nullopt }, // empty file offer
        { "08 01 12 09 08 01 12 05 0A 03 0A 01 61", std::nullopt }, // file offer without payload id
        { "08 01 12 08 08 01 12 04 12 02 18 01", std::nullopt }, // text offer without payload id
        { "08 01 12 08 08 01 12 04 0A 02 18 04",
            S { S::Introduction { { { "", 4, 0, "application/octet-stream" } }, {}, false } } },
        { "08 01 12 0A 08 01 12 06 12 04 18 09 20 02",
            S { S::Introduction { {}, { { "", Kind::unknown, 2, 0 } }, false } } }, // kind above 4
        { "08 01 12 06 08 01 12 02 3A 00", S { S::Introduction { {}, {}, true } } }, // field 7
        { "08 01 12 06 08 01 12 02 22 00", S { S::Introduction { {}, {}, true } } }, // field 4
        { "08 01 12 06 08 01 12 02 30 01", S { S::Introduction { {}, {}, false } } }, // field 6 ignored
    };
    expectDecodes(cases);
}

TEST(EndpointInfo_Decode, Layout)
{
    using K = EndpointInfo::Kind;
    const auto info = [](std::uint8_t flags, std::initializer_list<std::uint8_t> name = {}) {
        Bytes bytes(17, 0);
        bytes[0] = flags;
        bytes.insert(bytes.end(), name);
        return bytes;
    };
    const std::vector<std::pair<Bytes, std::optional<EndpointInfo>>> cases = {
        { info(0x02, { 3, 'B', 'o', 'b', 0xEE }), EndpointInfo { "Bob", K::phone } }, // extra byte ignored
        { Bytes(16, 0), std::nullopt }, { Bytes(17, 0x06), EndpointInfo { "", K::computer } },
        { info(0x0E), EndpointInfo { "", K::unknown } },
        { info(0x12, { 3, 'B', 'o', 'b' }), EndpointInfo { "", K::phone } }, // name bit clear
        { info(0x02, { 5, 'B', 'o', 'b' }), std::nullopt }, // name runs off the end
        { info(0x02, { 3, 0xC3, 'o', 'b' }), std::nullopt }, // not UTF-8
    };
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(EndpointInfo::decode(bytes), expected) << testing::PrintToString(bytes);
}

TEST(EndpointInfo_Encode, CutsNamesOnCharacterBoundaries)
{
    const EndpointInfo longName { std::string(300, 'a'), EndpointInfo::Kind::tablet };
    const Bytes encoded = longName.encoded();
    EXPECT_EQ(encoded[0], 0x04);
    EXPECT_EQ(encoded[17], 255);
    EXPECT_EQ(EndpointInfo::decode(encoded)->name, std::string(255, 'a'));

    // 254 letters then "é": the cut at 255 bytes splits the é, which is dropped whole.
    const EndpointInfo split { std::string(254, 'a') + "\xC3\xA9", EndpointInfo::Kind::phone };
    EXPECT_EQ(EndpointInfo::decode(split.encoded())->name, std::string(254, 'a'));
    const Bytes again = longName.encoded();
    EXPECT_NE(Bytes(again.begin() + 1, again.begin() + 17), Bytes(encoded.begin() + 1, encoded.begin() + 17))
        << "the opaque bytes are fresh each time";
}

} // namespace
} // namespace tessaly
