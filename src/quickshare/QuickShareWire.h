#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// A parsed protocol-buffer message. Only varint (0) and length-delimited (2) fields are kept;
// 64-bit (1) and 32-bit (5) fields are skipped. Every single-valued accessor answers from the
// last occurrence of its field; a field of the other kind reads as absent.
//
// The message keeps one copy of its input and answers by walking it, so memory stays at the
// size of the input whatever the number of fields, and nested messages share that copy.
class ProtoMessage {
public:
    struct Malformed : std::runtime_error {
        Malformed();
    };

    ProtoMessage() = default;
    explicit ProtoMessage(ByteView data);
    explicit ProtoMessage(Bytes&& data);

    std::optional<std::uint64_t> number(int field) const;
    std::optional<std::int64_t> int64(int field) const;
    // The low 32 bits of the varint, signed: 0xFFFFFFFF reads as -1.
    std::optional<std::int32_t> int32(int field) const;
    bool boolean(int field) const;
    std::optional<Bytes> bytes(int field) const;
    // The same bytes without a copy; valid while this message (or a copy of it) lives.
    std::optional<ByteView> bytesView(int field) const;
    std::optional<std::string> string(int field) const;
    // Nested messages are parsed only when asked for; bytes that do not parse raise Malformed.
    std::optional<ProtoMessage> message(int field) const;
    std::vector<ProtoMessage> messages(int field) const;
    // The same messages handed to `visit` one at a time, so a list of millions of entries costs
    // no more memory than one; raises Malformed like messages(), possibly after some visits.
    void eachMessage(int field, const std::function<void(const ProtoMessage&)>& visit) const;

    // True when any value, of either kind, was given for the field.
    bool has(int field) const;

private:
    ProtoMessage(std::shared_ptr<const Bytes> storage, ByteView view);

    std::shared_ptr<const Bytes> m_storage;
    ByteView m_view;
};

// Low-level walk over a protocol-buffer message without copying, shared by ProtoMessage and by
// the secure channel (which must not copy megabyte frames several times).
namespace ProtoWire {

enum class WireType : std::uint8_t { varint = 0, bytes = 2 };

struct Field {
    int number = 0;
    WireType type = WireType::varint;
    std::uint64_t value = 0; // for varint fields
    ByteView bytes; // for length-delimited fields
};

// Reads the next kept field at `position`, skipping 64- and 32-bit fields. Returns none at the end
// of the input; raises ProtoMessage::Malformed for anything that breaks the wire rules.
std::optional<Field> next(ByteView data, std::size_t& position);

// Checks that the whole input is one well-formed message.
void validate(ByteView data);

// The last kept occurrence of `field`, if any. The data must have been validated.
std::optional<Field> last(ByteView data, int field);

bool isValidUtf8(ByteView data);

} // namespace ProtoWire

// Appends tagged fields in the order written; nothing is sorted, merged or omitted.
class ProtoWriter {
public:
    ProtoWriter& number(int field, std::uint64_t value);
    // Negative values take ten bytes, as their 64-bit two's-complement pattern.
    ProtoWriter& signedNumber(int field, std::int64_t value);
    ProtoWriter& boolean(int field, bool value);
    ProtoWriter& bytes(int field, ByteView data);
    ProtoWriter& string(int field, std::string_view text);
    ProtoWriter& message(int field, const ProtoWriter& nested);

    const Bytes& data() const& { return m_data; }
    Bytes data() && { return std::move(m_data); }

    static void appendVarint(Bytes& out, std::uint64_t value);

private:
    void key(int field, std::uint8_t wireType);
    void raw(std::uint64_t value);

    Bytes m_data;
};

// Offline and sharing frames share one envelope: version 1 in field 1 and the version-1
// message in field 2, whose field 1 names the frame's type.
struct VersionOneFrame {
    ProtoMessage body;
    std::uint64_t type = 0;
};
// None when the envelope has no body or the body no type; raises Malformed like ProtoMessage.
std::optional<VersionOneFrame> openVersionOne(ByteView data);
Bytes versionOneEnvelope(const ProtoWriter& body);

} // namespace tessaly
