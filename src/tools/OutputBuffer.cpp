#include "tools/ProcessRunner.h"

#include <algorithm>

namespace tessaly {

OutputBuffer::OutputBuffer(std::size_t limit, Keep keep)
    : m_limit(limit)
    , m_keep(keep)
{
}

void OutputBuffer::append(std::string_view bytes)
{
    append(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// Once `m_limit` bytes are kept the vector becomes a ring, so a flood through an 8 MiB
// limit costs one copy per byte instead of shifting the whole buffer on every append.
void OutputBuffer::append(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return;
    const std::lock_guard lock(m_lock);
    if (m_keep == Keep::first) {
        const std::size_t fits = std::min(m_limit - m_data.size(), bytes.size());
        m_data.insert(m_data.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(fits));
        m_overflowed = m_overflowed || fits < bytes.size();
        return;
    }
    if (m_limit == 0)
        return;
    if (bytes.size() >= m_limit) {
        m_data.assign(bytes.end() - static_cast<std::ptrdiff_t>(m_limit), bytes.end());
        m_start = 0;
        return;
    }
    if (m_data.size() < m_limit) {
        const std::size_t fits = std::min(m_limit - m_data.size(), bytes.size());
        m_data.insert(m_data.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(fits));
        bytes = bytes.subspan(fits);
    }
    for (std::uint8_t byte : bytes) {
        m_data[m_start] = byte;
        m_start = m_start + 1 == m_limit ? 0 : m_start + 1;
    }
}

std::vector<std::uint8_t> OutputBuffer::bytes() const
{
    std::vector<std::uint8_t> ordered;
    const std::lock_guard lock(m_lock);
    ordered.reserve(m_data.size());
    ordered.insert(ordered.end(), m_data.begin() + static_cast<std::ptrdiff_t>(m_start), m_data.end());
    ordered.insert(ordered.end(), m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(m_start));
    return ordered;
}

bool OutputBuffer::overflowed() const
{
    const std::lock_guard lock(m_lock);
    return m_overflowed;
}

std::string OutputBuffer::text() const
{
    return ProcessRunner::decodeUtf8Lossy(bytes());
}

std::string ProcessResult::combinedOutput() const
{
    if (stdOut.empty())
        return stdErr;
    if (stdErr.empty())
        return stdOut;
    return stdOut + "\n" + stdErr;
}

namespace ProcessRunner {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The byte count of the well-formed sequence at `pos`, or the length of the maximal
// ill-formed prefix as a negative number (each such prefix becomes one U+FFFD).
std::ptrdiff_t sequenceAt(std::span<const std::uint8_t> bytes, std::size_t pos)
{
    const std::uint8_t lead = bytes[pos];
    if (lead < 0x80)
        return 1;
    std::size_t need = 0;
    std::uint8_t lower = 0x80;
    std::uint8_t upper = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        if (lead == 0xE0)
            lower = 0xA0;
        if (lead == 0xED)
            upper = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        if (lead == 0xF0)
            lower = 0x90;
        if (lead == 0xF4)
            upper = 0x8F;
    } else {
        return -1;
    }
    std::size_t next = pos + 1;
    for (std::size_t k = 0; k < need; ++k, ++next) {
        if (next >= bytes.size())
            return -static_cast<std::ptrdiff_t>(next - pos);
        const std::uint8_t byte = bytes[next];
        if (byte < (k == 0 ? lower : 0x80) || byte > (k == 0 ? upper : 0xBF))
            return -static_cast<std::ptrdiff_t>(next - pos);
    }
    return static_cast<std::ptrdiff_t>(need + 1);
}

char32_t codePoint(std::string_view text, std::size_t pos, std::size_t length)
{
    auto byte
        = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(text[pos + i])); };
    switch (length) {
    case 1:
        return byte(0);
    case 2:
        return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
    case 3:
        return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    default:
        return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
    }
}

// Unicode White_Space, which includes the line breaks.
bool isWhitespace(char32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680
        || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F
        || c == 0x3000;
}

std::span<const std::uint8_t> asBytes(std::string_view text)
{
    return { reinterpret_cast<const std::uint8_t*>(text.data()), text.size() };
}

} // namespace

std::string decodeUtf8Lossy(std::span<const std::uint8_t> bytes)
{
    std::string text;
    text.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::ptrdiff_t length = sequenceAt(bytes, pos);
        if (length > 0) {
            text.append(reinterpret_cast<const char*>(bytes.data() + pos), static_cast<std::size_t>(length));
            pos += static_cast<std::size_t>(length);
        } else {
            text.append(kReplacement);
            pos += static_cast<std::size_t>(-length);
        }
    }
    return text;
}

std::string trimWhitespace(std::string_view text)
{
    const auto bytes = asBytes(text);
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::ptrdiff_t length = sequenceAt(bytes, begin);
        if (length <= 0 || !isWhitespace(codePoint(text, begin, static_cast<std::size_t>(length))))
            break;
        begin += static_cast<std::size_t>(length);
    }
    std::size_t end = text.size();
    while (end > begin) {
        bool trimmed = false;
        for (std::size_t length = 1; length <= 4 && length <= end - begin; ++length) {
            const std::size_t start = end - length;
            if (sequenceAt(bytes, start) == static_cast<std::ptrdiff_t>(length)
                && isWhitespace(codePoint(text, start, length))) {
                end = start;
                trimmed = true;
                break;
            }
        }
        if (!trimmed)
            break;
    }
    return std::string(text.substr(begin, end - begin));
}

} // namespace ProcessRunner
} // namespace tessaly
