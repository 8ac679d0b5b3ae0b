#include "quickshare/QuickShareText.h"

#include <algorithm>
#include <utility>

namespace tessaly::QuickShareText {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

} // namespace

std::u32string decode(std::string_view utf8)
{
    std::u32string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        int extra = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        } else {
            out += kReplacement;
            ++i;
            continue;
        }
        std::size_t used = 1;
        bool valid = true;
        for (int k = 0; k < extra; ++k, ++used) {
            if (i + used >= utf8.size() || (static_cast<unsigned char>(utf8[i + used]) & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + used]) & 0x3F);
        }
        if (!valid || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += kReplacement;
            i += used;
            continue;
        }
        out += c;
        i += used;
    }
    return out;
}

std::string encode(std::u32string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char32_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool isValidUTF8(std::string_view bytes)
{
    // Valid text survives the round trip unchanged; anything else gained a replacement.
    return encode(decode(bytes)) == bytes;
}

bool isInvisible(char32_t c)
{
    // Controls, then Unicode's default-ignorable code points.
    static constexpr std::pair<char32_t, char32_t> ranges[] = { { 0x00, 0x1F }, { 0x7F, 0x9F },
        { 0xAD, 0xAD }, { 0x34F, 0x34F }, { 0x61C, 0x61C }, { 0x115F, 0x1160 }, { 0x17B4, 0x17B5 },
        { 0x180B, 0x180F }, { 0x200B, 0x200F }, { 0x202A, 0x202E }, { 0x2060, 0x206F }, { 0x3164, 0x3164 },
        { 0xFE00, 0xFE0F }, { 0xFEFF, 0xFEFF }, { 0xFFA0, 0xFFA0 }, { 0xFFF0, 0xFFF8 }, { 0x1BCA0, 0x1BCA3 },
        { 0x1D173, 0x1D17A }, { 0xE0000, 0xE0FFF } };
    return std::any_of(std::begin(ranges), std::end(ranges),
        [c](const auto& range) { return c >= range.first && c <= range.second; });
}

bool isSpace(char32_t c)
{
    return c == '\t' || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F
        || c == 0x205F || c == 0x3000;
}

bool isWhitespace(char32_t c)
{
    return isSpace(c) || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

std::u32string trimmed(std::u32string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isSpace(text[begin]))
        ++begin;
    while (end > begin && isSpace(text[end - 1]))
        --end;
    return std::u32string(text.substr(begin, end - begin));
}

std::string cleanLabel(std::string_view text, std::string_view fallback)
{
    std::u32string chars = decode(text);
    for (char32_t& c : chars)
        if (isInvisible(c))
            c = U' ';
    const std::u32string label = trimmed(chars);
    if (label.empty())
        return std::string(fallback);
    return encode(label);
}

} // namespace tessaly::QuickShareText
