#include "tools/ProcessRunner.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace tessaly {
namespace {

std::string decode(std::string_view bytes)
{
    return ProcessRunner::decodeUtf8Lossy(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(OutputBufferTest, KeepsTheMostRecentBytes)
{
    struct Case {
        std::size_t limit;
        std::vector<std::string> appends;
        std::string kept;
    };
    const std::vector<Case> cases = {
        { 5, {}, "" },
        { 5, { "abc" }, "abc" },
        { 5, { "abc", "de" }, "abcde" },
        { 5, { "abc", "def" }, "bcdef" },
        { 5, { "abcdefgh" }, "defgh" },
        { 5, { "ab", "cd", "ef", "gh", "ij", "k" }, "ghijk" },
        { 5, { "abcd", "efghijklmnop", "q" }, "mnopq" },
        { 4, { "abcd", "e", "f", "g", "h", "i" }, "fghi" },
        { 0, { "abc" }, "" },
    };
    for (const Case& c : cases) {
        OutputBuffer buffer(c.limit);
        for (const std::string& piece : c.appends)
            buffer.append(piece);
        EXPECT_EQ(buffer.text(), c.kept) << "limit " << c.limit << ", " << c.appends.size() << " appends";
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
    struct Case {
        std::string bytes;
        std::string text;
    };
    const std::string r = kReplacement;
    const std::vector<Case> cases = {
        { "plain", "plain" },
        { "é ✓ 😀", "é ✓ 😀" },
        { "\xA9"
          "abc",
            r + "abc" }, // a cut in front of a character
        { "\x83\xA9"
          "x",
            r + r + "x" }, // two lone continuation bytes
        { "ab\xE2\x9C", "ab" + r }, // a character cut off at the end
        { "\xC0\x80", r + r }, // overlong encoding
        { "\xED\xA0\x80", r + r + r }, // surrogate
        { "\xF4\x90\x80\x80", r + r + r + r }, // beyond U+10FFFF
        { "\xF5x\xFF", r + "x" + r },
        { std::string("a\0b", 3), std::string("a\0b", 3) },
        { "\xE2\x9Cx", r + "x" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(decode(c.bytes), c.text) << c.text;
}

TEST(OutputBufferTest, TrimmingRemovesWhitespaceAndLineBreaksAtBothEnds)
{
    struct Case {
        std::string text;
        std::string trimmed;
    };
    const std::vector<Case> cases = {
        { "", "" },
        { " \t\r\n ", "" },
        { "\n\nList of devices attached\nR58M\tdevice\n\n", "List of devices attached\nR58M\tdevice" },
        { "\r\nerror: closed\r\n", "error: closed" },
        { "  inner  space  ", "inner  space" },
        { "\xC2\xA0"
          "nbsp\xE2\x80\xA8",
            "nbsp" }, // U+00A0 and U+2028
        { "é\n", "é" },
        { "x\xE2\x9C", "x\xE2\x9C" }, // invalid bytes are not white space
        { "\xA0x", "\xA0x" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProcessRunner::trimWhitespace(c.text), c.trimmed) << c.text;
}

} // namespace
} // namespace tessaly
