#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tessaly {

// What a phone's "screencap -p" sent, judged before anything is saved. The picture is never
// decoded: its chunk structure and the size in its header are enough, and a header that
// claims an enormous picture costs nothing to refuse.
namespace ScreenImage {

inline constexpr std::size_t kMaxBytes = 64 * 1024 * 1024;
// Wider or taller than any phone, tablet or folding screen.
inline constexpr std::uint32_t kMaxSide = 16384;

enum class Problem { none, empty, notPNG, truncated, implausibleSize };

struct Check {
    Problem problem = Problem::none;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // The bytes up to the end of the picture's last chunk (what is worth saving).
    std::size_t end = 0;

    bool operator==(const Check&) const = default;
};

Check check(std::span<const std::uint8_t> bytes);

} // namespace ScreenImage
} // namespace tessaly
