#include "tools/Validation.h"

#include <cstddef>

namespace tessaly::Validation {

namespace {

bool isAsciiAlnum(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Well-formed UTF-8: no stray continuation bytes, overlong forms, surrogates or values past U+10FFFF.
bool isValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t scalar = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            scalar = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            scalar = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            scalar = lead & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            scalar = (scalar << 6) | (next & 0x3F);
        }
        if ((length == 3 && scalar < 0x800) || (length == 4 && scalar < 0x10000) || scalar > 0x10FFFF
            || (scalar >= 0xD800 && scalar <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

bool isSafeToken(std::string_view text, std::size_t maxLength, bool allowColon)
{
    if (text.empty() || text.size() > maxLength || text.front() == '-')
        return false;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (!(isAsciiAlnum(c) || c == '.' || c == '_' || c == '-' || (allowColon && c == ':')))
            return false;
    }
    return true;
}

} // namespace

bool isSafeSerial(std::string_view text)
{
    return isSafeToken(text, 128, true);
}

bool isSafeEncoderName(std::string_view text)
{
    return isSafeToken(text, 100, false);
}

bool isSafeFileName(std::string_view text)
{
    if (text.empty() || text.size() > 255 || text == "." || text == "..")
        return false;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == '/' || c == 0x7F)
            return false;
    }
    // A name that is not text cannot be shown or compared reliably; the phone never lists one.
    return isValidUtf8(text);
}

bool isSafePhonePath(std::string_view text)
{
    constexpr std::string_view root = "/sdcard";
    if (text.size() > 1024)
        return false;
    if (text == root)
        return true;
    if (text.size() <= root.size() + 1 || text.substr(0, root.size() + 1) != "/sdcard/")
        return false;
    std::string_view rest = text.substr(root.size() + 1);
    while (true) {
        const std::size_t slash = rest.find('/');
        if (!isSafeFileName(rest.substr(0, slash)))
            return false;
        if (slash == std::string_view::npos)
            return true;
        rest = rest.substr(slash + 1);
    }
}

std::optional<std::array<int, 4>> parseIPv4(std::string_view text)
{
    std::array<int, 4> numbers {};
    std::size_t index = 0;
    std::size_t start = 0;
    while (true) {
        if (index == 4)
            return std::nullopt;
        const std::size_t dot = text.find('.', start);
        const std::string_view piece
            = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
        if (piece.empty() || piece.size() > 3 || (piece.size() > 1 && piece.front() == '0'))
            return std::nullopt;
        int value = 0;
        for (const char c : piece) {
            if (!isAsciiDigit(c))
                return std::nullopt;
            value = value * 10 + (c - '0');
        }
        if (value > 255)
            return std::nullopt;
        numbers[index++] = value;
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    if (index != 4)
        return std::nullopt;
    return numbers;
}

bool isPrivateLANIPv4(std::string_view text)
{
    const auto address = parseIPv4(text);
    if (!address)
        return false;
    const int a = (*address)[0], b = (*address)[1], d = (*address)[3];
    if (d == 0 || d == 255)
        return false;
    return a == 10 || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168);
}

std::optional<HostPort> privateHostPort(std::string_view text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos)
        return std::nullopt;
    const std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    if (portText.empty())
        return std::nullopt;
    int port = 0;
    for (const char c : portText) {
        if (!isAsciiDigit(c))
            return std::nullopt;
        port = port * 10 + (c - '0');
        if (port > 65535)
            return std::nullopt;
    }
    if (port < 1024 || port > 65535 || !isPrivateLANIPv4(host))
        return std::nullopt;
    return HostPort { std::string(host), port };
}

} // namespace tessaly::Validation
