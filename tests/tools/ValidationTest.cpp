#include <gtest/gtest.h>

#include "tools/Validation.h"

using namespace tessaly;

namespace {

struct Case {
    std::string text;
    bool expected;
};

std::string repeated(char c, std::size_t count)
{
    return std::string(count, c);
}

std::string repeated(std::string_view piece, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += piece;
    return text;
}

void expectAll(bool (*predicate)(std::string_view), const std::vector<Case>& cases)
{
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(predicate(text), expected) << '"' << text << '"';
}

} // namespace

TEST(ValidationTest, SafeSerial)
{
    expectAll(Validation::isSafeSerial,
        {
            { "", false },
            { repeated('a', 128), true },
            { repeated('a', 129), false },
            { "-s", false },
            { "R58M12ABCDE", true },
            { "adb-ABC-x._adb-tls-connect._tcp", true },
            { "192.168.1.5:5555", true },
            { "emulator-5554", true },
            { "a b", false },
            { "a/b", false },
            { "caf\xC3\xA9", false },
            { "abc\n", false },
            { "abc\r", false },
            { std::string("ab\0c", 4), false },
        });
}

TEST(ValidationTest, SafeEncoderName)
{
    expectAll(Validation::isSafeEncoderName,
        {
            { "c2.exynos.h264.encoder", true },
            { "OMX.qcom.video.encoder.avc", true },
            { "c2.qti.avc.encoder-low_latency", true },
            { "c2:qti", false },
            { repeated('e', 100), true },
            { repeated('e', 101), false },
            { "-encoder", false },
            { "", false },
            { "c2 encoder", false },
            { "'c2.qti.avc.encoder'", false },
        });
}

TEST(ValidationTest, SafeFileName)
{
    expectAll(Validation::isSafeFileName,
        {
            { ".", false },
            { "..", false },
            { "...", true },
            { ".hidden", true },
            { "a/b", false },
            { "a\tb", false },
            { "a\nb", false },
            { "a\x7Fz", false },
            { std::string("a\0b", 3), false },
            { "Photo 1.jpg", true },
            { "R\xC3\xA9sum\xC3\xA9 \xE2\x9C\x93.pdf", true },
            { "", false },
            { repeated('x', 255), true },
            { repeated('x', 256), false },
            // 127 two-byte letters and one ASCII letter: 255 bytes; one more byte is too long.
            { repeated("\xC3\xA9", 127) + "x", true },
            { repeated("\xC3\xA9", 128), false },
            // Not text at all: a stray continuation byte, a truncated sequence, an overlong "/", a surrogate.
            { "a\x80z", false },
            { "a\xC0\xAFz", false },
            { "abc\xC3", false },
            { "a\xC0\xAF"
              "b",
                false },
            { "\xED\xA0\x80", false },
        });
}

TEST(ValidationTest, SafePhonePath)
{
    expectAll(Validation::isSafePhonePath,
        {
            { "/sdcard", true },
            { "/sdcard/", false },
            { "/sdcard/DCIM/Camera", true },
            { "/sdcard/DCIM/Camera/", false },
            { "/sdcard/DCIM//Camera", false },
            { "/sdcard/../data", false },
            { "/sdcard/DCIM/..", false },
            { "/sdcard/./DCIM", false },
            { "/sdcardx", false },
            { "/sdcardx/DCIM", false },
            { "/data/local", false },
            { "sdcard/DCIM", false },
            { "", false },
            { "/sdcard/Music/My Song.mp3", true },
            { "/sdcard/a\nb", false },
            { "/sdcard/" + repeated('x', 256), false },
            { "/sdcard/" + repeated('x', 255) + "/" + repeated('y', 255) + "/" + repeated('z', 255) + "/"
                    + repeated('w', 248),
                true }, // exactly 1,024 bytes
            { "/sdcard/" + repeated('x', 255) + "/" + repeated('y', 255) + "/" + repeated('z', 255) + "/"
                    + repeated('w', 249),
                false },
        });
}

TEST(ValidationTest, ParseIPv4)
{
    using Address = std::array<int, 4>;
    const std::vector<std::pair<std::string, std::optional<Address>>> cases {
        { "192.168.1.5", Address { 192, 168, 1, 5 } },
        { "0.0.0.0", Address { 0, 0, 0, 0 } },
        { "255.255.255.255", Address { 255, 255, 255, 255 } },
        { "192.168.01.5", std::nullopt },
        { "192.168.1.007", std::nullopt },
        { "192.168.1", std::nullopt },
        { "192.168.1.5.6", std::nullopt },
        { "192.168..5", std::nullopt },
        { "192.168.1.5.", std::nullopt },
        { ".192.168.1.5", std::nullopt },
        { "192.168.1.256", std::nullopt },
        { "192.168.1.1000", std::nullopt },
        { " 192.168.1.5", std::nullopt },
        { "192.168.1.5 ", std::nullopt },
        { "+192.168.1.5", std::nullopt },
        { "192.168.-1.5", std::nullopt },
        { "192.168.1.5/24", std::nullopt },
        { "\xD9\xA1.1.1.1", std::nullopt }, // an Arabic-Indic digit one
        { "", std::nullopt },
        { "...", std::nullopt },
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Validation::parseIPv4(text), expected) << text;
}

TEST(ValidationTest, PrivateLANIPv4)
{
    expectAll(Validation::isPrivateLANIPv4,
        {
            { "10.0.0.1", true },
            { "10.255.255.254", true },
            { "172.15.0.1", false },
            { "172.16.0.1", true },
            { "172.31.255.254", true },
            { "172.32.0.1", false },
            { "192.168.1.5", true },
            { "192.168.1.255", false },
            { "192.168.1.0", false },
            { "192.169.1.1", false },
            { "127.0.0.1", false },
            { "169.254.1.1", false },
            { "100.64.0.1", false },
            { "8.8.8.8", false },
            { "192.168.001.5", false },
            { "192.168.1.5:5555", false },
            { "", false },
        });
}

TEST(ValidationTest, PrivateHostPort)
{
    using HostPort = Validation::HostPort;
    const std::vector<std::pair<std::string, std::optional<HostPort>>> cases {
        { "192.168.1.5:5555", HostPort { "192.168.1.5", 5555 } },
        { "10.0.0.7:1024", HostPort { "10.0.0.7", 1024 } },
        { "10.0.0.7:65535", HostPort { "10.0.0.7", 65535 } },
        { "192.168.1.5:80", std::nullopt },
        { "192.168.1.5:1023", std::nullopt },
        { "192.168.1.5:65536", std::nullopt },
        { "192.168.1.5:99999999999999999999", std::nullopt },
        { "192.168.1.5:", std::nullopt },
        { "192.168.1.5:-5555", std::nullopt },
        { "192.168.1.5:55 55", std::nullopt },
        { "192.168.1.5:5555:1", std::nullopt },
        { "8.8.8.8:5555", std::nullopt },
        { "192.168.1.5", std::nullopt },
        { ":5555", std::nullopt },
        { "adb-ABC-x._adb-tls-connect._tcp", std::nullopt },
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Validation::privateHostPort(text), expected) << text;
}
