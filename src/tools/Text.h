#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace tessaly {

// Tool answers are searched for English phrases without regard to case; only ASCII
// letters fold, so a UTF-8 sequence is never changed.
inline std::string asciiLowercase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    });
    return lower;
}

} // namespace tessaly
