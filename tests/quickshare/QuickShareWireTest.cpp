#include <gtest/gtest.h>

#include "quickshare/QuickShareWire.h"

namespace tessaly {
namespace {

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

} // namespace
} // namespace tessaly
