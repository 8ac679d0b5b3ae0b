#include "quickshare/QuickShareWire.h"

#include <cstdlib>

namespace tessaly {

namespace {

constexpr int maxFieldNumber = (1 << 29) - 1;

// Base-128 varint of at most ten bytes; of the tenth byte only the lowest bit lands in the result.
std::uint64_t readVarint(ByteView data, std::size_t& position)
{
    std::uint64_t result = 0;
    unsigned shift = 0;
    while (true) {
        if (position >= data.size())
            throw ProtoMessage::Malformed();
        const std::uint8_t byte = data[position++];
        result |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0)
            return result;
        if (shift == 63)
            throw ProtoMessage::Malformed();
        shift += 7;
    }
}

} // namespace

namespace ProtoWire {

std::optional<Field> next(ByteView data, std::size_t& position)
{
    while (position < data.size()) {
        const std::uint64_t key = readVarint(data, position);
        if (key < 8 || key >= (std::uint64_t { 1 } << 32))
            throw ProtoMessage::Malformed();
        const int number = static_cast<int>(key >> 3);
        const std::size_t left = data.size() - position;
        switch (key & 7) {
        case 0:
            return Field { number, WireType::varint, readVarint(data, position), {} };
        case 2: {
            const std::uint64_t length = readVarint(data, position);
            if (length > data.size() - position)
                throw ProtoMessage::Malformed();
            const ByteView body = data.subspan(position, static_cast<std::size_t>(length));
            position += static_cast<std::size_t>(length);
            return Field { number, WireType::bytes, 0, body };
        }
        case 1:
            if (left < 8)
                throw ProtoMessage::Malformed();
            position += 8;
            break;
        case 5:
            if (left < 4)
                throw ProtoMessage::Malformed();
            position += 4;
            break;
        default:
            throw ProtoMessage::Malformed();
        }
    }
    return std::nullopt;
}

void validate(ByteView data)
{
    std::size_t position = 0;
    while (next(data, position)) { }
}

std::optional<Field> last(ByteView data, int field)
{
    std::optional<Field> found;
    std::size_t position = 0;
    while (auto current = next(data, position)) {
        if (current->number == field)
            found = *current;
    }
    return found;
}

bool isValidUtf8(ByteView data)
{
    std::size_t i = 0;
    while (i < data.size()) {
        const std::uint8_t lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t scalar = 0;
        std::uint32_t minimum = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, scalar = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, scalar = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, scalar = lead & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (data.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const std::uint8_t continuation = data[i + k];
            if ((continuation & 0xC0) != 0x80)
                return false;
            scalar = (scalar << 6) | (continuation & 0x3F);
        }
        if (scalar < minimum || scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace ProtoWire

ProtoMessage::Malformed::Malformed()
    : std::runtime_error("malformed protocol-buffer message")
{
}

ProtoMessage::ProtoMessage(ByteView data)
    : ProtoMessage(Bytes(data.begin(), data.end()))
{
}

ProtoMessage::ProtoMessage(Bytes&& data)
{
    ProtoWire::validate(data);
    auto storage = std::make_shared<const Bytes>(std::move(data));
    m_view = ByteView(*storage);
    m_storage = std::move(storage);
}

ProtoMessage::ProtoMessage(std::shared_ptr<const Bytes> storage, ByteView view)
    : m_storage(std::move(storage))
    , m_view(view)
{
}

bool ProtoMessage::has(int field) const
{
    return ProtoWire::last(m_view, field).has_value();
}

std::optional<std::uint64_t> ProtoMessage::number(int field) const
{
    const auto found = ProtoWire::last(m_view, field);
    if (!found || found->type != ProtoWire::WireType::varint)
        return std::nullopt;
    return found->value;
}

std::optional<std::int64_t> ProtoMessage::int64(int field) const
{
    const auto value = number(field);
    if (!value)
        return std::nullopt;
    return static_cast<std::int64_t>(*value);
}

std::optional<std::int32_t> ProtoMessage::int32(int field) const
{
    const auto value = number(field);
    if (!value)
        return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*value & 0xFFFFFFFFu));
}

bool ProtoMessage::boolean(int field) const
{
    const auto value = number(field);
    return value && *value != 0;
}

std::optional<ByteView> ProtoMessage::bytesView(int field) const
{
    const auto found = ProtoWire::last(m_view, field);
    if (!found || found->type != ProtoWire::WireType::bytes)
        return std::nullopt;
    return found->bytes;
}

std::optional<Bytes> ProtoMessage::bytes(int field) const
{
    const auto view = bytesView(field);
    if (!view)
        return std::nullopt;
    return Bytes(view->begin(), view->end());
}

std::optional<std::string> ProtoMessage::string(int field) const
{
    const auto view = bytesView(field);
    if (!view || !ProtoWire::isValidUtf8(*view))
        return std::nullopt;
    return std::string(view->begin(), view->end());
}

std::optional<ProtoMessage> ProtoMessage::message(int field) const
{
    const auto view = bytesView(field);
    if (!view)
        return std::nullopt;
    ProtoWire::validate(*view);
    return ProtoMessage(m_storage, *view);
}

std::vector<ProtoMessage> ProtoMessage::messages(int field) const
{
    std::vector<ProtoMessage> result;
    eachMessage(field, [&result](const ProtoMessage& message) { result.push_back(message); });
    return result;
}

void ProtoMessage::eachMessage(int field, const std::function<void(const ProtoMessage&)>& visit) const
{
    std::size_t position = 0;
    while (auto current = ProtoWire::next(m_view, position)) {
        if (current->number != field || current->type != ProtoWire::WireType::bytes)
            continue;
        ProtoWire::validate(current->bytes);
        visit(ProtoMessage(m_storage, current->bytes));
    }
}

void ProtoWriter::appendVarint(Bytes& out, std::uint64_t value)
{
    while (value >= 0x80) {
        out.push_back(static_cast<std::uint8_t>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(value));
}

void ProtoWriter::raw(std::uint64_t value)
{
    appendVarint(m_data, value);
}

void ProtoWriter::key(int field, std::uint8_t wireType)
{
    // A field number outside the wire's range is a bug in the caller, never input from a peer.
    if (field < 1 || field > maxFieldNumber)
        std::abort();
    raw((static_cast<std::uint64_t>(field) << 3) | wireType);
}

ProtoWriter& ProtoWriter::number(int field, std::uint64_t value)
{
    key(field, 0);
    raw(value);
    return *this;
}

ProtoWriter& ProtoWriter::signedNumber(int field, std::int64_t value)
{
    return number(field, static_cast<std::uint64_t>(value));
}

ProtoWriter& ProtoWriter::boolean(int field, bool value)
{
    return number(field, value ? 1 : 0);
}

ProtoWriter& ProtoWriter::bytes(int field, ByteView data)
{
    key(field, 2);
    raw(data.size());
    m_data.insert(m_data.end(), data.begin(), data.end());
    return *this;
}

ProtoWriter& ProtoWriter::string(int field, std::string_view text)
{
    return bytes(field, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

ProtoWriter& ProtoWriter::message(int field, const ProtoWriter& nested)
{
    return bytes(field, nested.m_data);
}

std::optional<VersionOneFrame> openVersionOne(ByteView data)
{
    const ProtoMessage outer(data);
    auto body = outer.message(2);
    if (!body)
        return std::nullopt;
    const auto type = body->number(1);
    if (!type)
        return std::nullopt;
    return VersionOneFrame { std::move(*body), *type };
}

Bytes versionOneEnvelope(const ProtoWriter& body)
{
    ProtoWriter outer;
    outer.number(1, 1).message(2, body);
    return std::move(outer).data();
}

} // namespace tessaly
