#pragma once

#include <string>
#include <string_view>

namespace tessaly::QuickShareText {

// Code points of UTF-8 text; bytes that are not valid UTF-8 become U+FFFD.
std::u32string decode(std::string_view utf8);
std::string encode(std::u32string_view text);
bool isValidUTF8(std::string_view bytes);

// Characters that could hide or reorder what the user reads: C0 and C1 controls and every
// default-ignorable code point (zero-width marks, bidirectional controls, variation selectors,
// invisible fillers and tags).
bool isInvisible(char32_t c);
// Tab and the Unicode space separators.
bool isSpace(char32_t c);
// isSpace plus line breaks.
bool isWhitespace(char32_t c);
std::u32string trimmed(std::u32string_view text);

// A phone-chosen label made safe to show: hidden characters become spaces, spaces at both ends
// go; `fallback` when nothing is left.
std::string cleanLabel(std::string_view text, std::string_view fallback);

} // namespace tessaly::QuickShareText
