#include "tools/ProcessRunner.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace tessaly {
namespace {

TEST(OutputBufferTest, KeepsTheMostRecentBytes)
{
    struct Case {
        std::size_t limit;
        std::vector<std::string> appends;
        std::string kept;
    };
    const std::vector<Case> cases
        = { { 5, {}, "" }, { 5, { "abc", "de" }, "abcde" }, { 5, { "abc", "def" }, "bcdef" },
              { 5, { "abcdefgh" }, "defgh" }, { 5, { "ab", "cd", "ef", "gh", "ij", "k" }, "ghijk" },
              { 5, { "abcd", "efghijklmnop", "q" }, "mnopq" }, { 0, { "abc" }, "" } };
    for (const Case& c : cases) {
        OutputBuffer buffer(c.limit);
        for (const std::string& piece : c.appends)
            buffer.append(piece);
        EXPECT_EQ(buffer.text(), c.kept) << c.kept;
        EXPECT_EQ(buffer.text(), c.kept) << "reading does not consume";
    }
}

TEST(OutputBufferTest, ConcurrentAppendsKeepWholeRecentPieces)
{
    OutputBuffer buffer(4096);
    std::vector<std::thread> writers;
    for (char letter : std::string("abcd")) {
        writers.emplace_back([&buffer, letter] {
            for (int i = 0; i < 2000; ++i)
                buffer.append(std::string(64, letter));
        });
    }
    std::thread reader([&buffer] {
        for (int i = 0; i < 200; ++i)
            EXPECT_LE(buffer.text().size(), 4096u);
    });
    for (std::thread& writer : writers)
        writer.join();
    reader.join();
    const std::string kept = buffer.text();
    ASSERT_EQ(kept.size(), 4096u);
    // Appends never interleave inside one another: the tail is made of whole 64-byte runs.
    for (std::size_t run = 0; run < kept.size(); run += 64)
        EXPECT_EQ(kept.substr(run, 64), std::string(64, kept[run])) << run;
}

TEST(OutputBufferTest, DecodingReplacesEachInvalidSequence)
{
    const std::string r = "\xEF\xBF\xBD";
    // A cut in front of a character, one cut off at the end, an overlong encoding, a surrogate,
    // beyond U+10FFFF, bytes that never begin a character.
    const std::vector<std::pair<std::string, std::string>> cases
        = { { "é ✓ 😀", "é ✓ 😀" }, { "\xA9zz", r + "zz" }, { "ab\xE2\x9C", "ab" + r }, { "\xC0\x80", r + r },
              { "\xED\xA0\x80", r + r + r }, { "\xF4\x90\x80\x80", r + r + r + r },
              { "\xF5x\xFF", r + "x" + r }, { std::string("a\0b", 3), std::string("a\0b", 3) } };
    for (const auto& [bytes, text] : cases) {
        OutputBuffer buffer(64);
        buffer.append(bytes);
        EXPECT_EQ(buffer.text(), text);
    }
}

TEST(OutputBufferTest, TrimmingRemovesWhitespaceAndLineBreaksAtBothEnds)
{
    const std::vector<std::pair<std::string, std::string>> cases = { { " \t\r\n ", "" },
        { "\r\nList of devices attached\nR58M\tdevice\r\n\n", "List of devices attached\nR58M\tdevice" },
        { "  inner  space  ", "inner  space" }, { "\xC2\xA0nbsp\xE2\x80\xA8", "nbsp" }, // U+00A0 and U+2028
        { "x\xE2\x9C", "x\xE2\x9C" }, { "\xA0x", "\xA0x" } }; // invalid bytes are not white space
    for (const auto& [text, trimmed] : cases)
        EXPECT_EQ(ProcessRunner::trimWhitespace(text), trimmed) << text;
}

} // namespace
} // namespace tessaly
