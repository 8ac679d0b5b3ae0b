#include "phone/ScreenImage.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace tessaly::ScreenImage {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
// Length, type and checksum around each chunk's data.
constexpr std::size_t kChunkFrame = 12;
constexpr std::uint32_t kLongestChunk = 0x7FFFFFFF;

std::uint32_t bigEndian(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16
        | std::uint32_t(bytes[at + 2]) << 8 | std::uint32_t(bytes[at + 3]);
}

bool isChunkType(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return std::all_of(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + 4),
        [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

bool typeIs(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view type)
{
    return std::equal(type.begin(), type.end(), bytes.begin() + std::ptrdiff_t(at));
}

} // namespace

Check check(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return { Problem::empty };
    const std::size_t signatureBytes = std::min(bytes.size(), kSignature.size());
    if (!std::equal(bytes.begin(), bytes.begin() + std::ptrdiff_t(signatureBytes), kSignature.begin()))
        return { Problem::notPNG };

    Check found { Problem::truncated };
    std::size_t at = kSignature.size();
    bool first = true;
    while (at + 8 <= bytes.size()) {
        const std::uint32_t length = bigEndian(bytes, at);
        if (length > kLongestChunk || !isChunkType(bytes, at + 4))
            return { Problem::notPNG };
        if (first) {
            // The header comes first and says how large the picture is.
            if (!typeIs(bytes, at + 4, "IHDR") || length != 13)
                return { Problem::notPNG };
            if (at + 16 > bytes.size())
                break;
            found.width = bigEndian(bytes, at + 8);
            found.height = bigEndian(bytes, at + 12);
            if (found.width == 0 || found.height == 0 || found.width > kMaxSide || found.height > kMaxSide)
                return { Problem::implausibleSize, found.width, found.height };
            first = false;
        }
        if (bytes.size() - at < kChunkFrame || bytes.size() - at - kChunkFrame < length)
            break;
        const bool last = typeIs(bytes, at + 4, "IEND");
        at += kChunkFrame + length;
        if (last) {
            found.problem = Problem::none;
            found.end = at;
            return found;
        }
    }
    return found;
}

} // namespace tessaly::ScreenImage
