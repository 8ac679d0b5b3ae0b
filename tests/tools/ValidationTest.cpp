#include <gtest/gtest.h>

#include "tools/Validation.h"

using namespace tessaly;

namespace {

using Texts = std::vector<std::string>;

std::string repeated(std::string_view piece, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += piece;
    return text;
}

void expectSplit(bool (*predicate)(std::string_view), const Texts& accepted, const Texts& rejected)
{
    for (const std::string& text : accepted)
        EXPECT_TRUE(predicate(text)) << '"' << text << '"';
    for (const std::string& text : rejected)
        EXPECT_FALSE(predicate(text)) << '"' << text << '"';
}

} // namespace

TEST(ValidationTest, SafeToolArguments)
{
    expectSplit(Validation::isSafeSerial,
        { repeated("a", 128), "R58M12ABCDE", "adb-ABC-x._adb-tls-connect._tcp", "192.168.1.5:5555",
            "emulator-5554" },
        { "", repeated("a", 129), "-s", "a b", "a/b", "caf\xC3\xA9", "abc\n", std::string("ab\0c", 4) });
    expectSplit(Validation::isSafeEncoderName,
        { "c2.exynos.h264.encoder", "OMX.qcom.video.encoder.avc", "c2.qti.avc.encoder-low_latency",
            repeated("e", 100) },
        { "c2:qti", repeated("e", 101), "-encoder", "", "c2 encoder", "'c2.qti.avc.encoder'" });
}

TEST(ValidationTest, SafeFileNamesAndPhonePaths)
{
    // 127 two-byte letters and one ASCII letter make 255 bytes.
    expectSplit(Validation::isSafeFileName,
        { "...", ".hidden", "Photo 1.jpg", "R\xC3\xA9sum\xC3\xA9 \xE2\x9C\x93.pdf", repeated("x", 255),
            repeated("\xC3\xA9", 127) + "x", "\xF4\x8F\xBF\xBF" },
        { ".", "..", "", "a/b", "a\tb", "a\nb", "a\x7Fz", std::string("a\0b", 3), repeated("x", 256),
            repeated("\xC3\xA9", 128),
            // Not text: a stray continuation byte, a truncated sequence, an overlong "/", a surrogate,
            // past U+10FFFF.
            "a\x80z", "abc\xC3", "a\xC0\xAFz", "\xED\xA0\x80", "\xF4\x90\x80\x80" });
    const std::string longest = "/sdcard/" + repeated("x", 255) + "/" + repeated("y", 255) + "/"
        + repeated("z", 255) + "/" + repeated("w", 248); // 1,024 bytes
    expectSplit(Validation::isSafePhonePath,
        { "/sdcard", "/sdcard/DCIM/Camera", "/sdcard/Music/My Song.mp3", longest },
        { "/sdcard/", "/sdcard/DCIM/Camera/", "/sdcard/DCIM//Camera", "/sdcard/../data", "/sdcard/DCIM/..",
            "/sdcard/./DCIM", "/sdcardx", "/sdcardx/DCIM", "/data/local", "sdcard/DCIM", "", "/sdcard/a\nb",
            "/sdcard/" + repeated("x", 256), longest + "w" });
}

TEST(ValidationTest, AddressesAndHomeNetworkHosts)
{
    EXPECT_EQ(Validation::parseIPv4("192.168.1.5"), (std::array { 192, 168, 1, 5 }));
    EXPECT_EQ(Validation::parseIPv4("0.0.0.0"), (std::array { 0, 0, 0, 0 }));
    EXPECT_EQ(Validation::parseIPv4("255.255.255.255"), (std::array { 255, 255, 255, 255 }));
    for (const std::string text : { "192.168.01.5", "192.168.1.007", "192.168.1", "192.168.1.5.6",
             "192.168..5", "192.168.1.5.", ".192.168.1.5", "192.168.1.256", "192.168.1.1000", " 192.168.1.5",
             "192.168.1.5 ", "+192.168.1.5", "192.168.-1.5", "192.168.1.5/24", "\xD9\xA1.1.1.1", "", "..." })
        EXPECT_EQ(Validation::parseIPv4(text), std::nullopt) << text;
    expectSplit(Validation::isPrivateLANIPv4,
        { "10.0.0.1", "10.255.255.254", "172.16.0.1", "172.31.255.254", "192.168.1.5" },
        { "172.15.0.1", "172.32.0.1", "192.168.1.255", "192.168.1.0", "192.169.1.1", "127.0.0.1",
            "169.254.1.1", "100.64.0.1", "8.8.8.8", "192.168.001.5", "192.168.1.5:5555", "" });
    using HostPort = Validation::HostPort;
    EXPECT_EQ(Validation::privateHostPort("192.168.1.5:5555"), (HostPort { "192.168.1.5", 5555 }));
    EXPECT_EQ(Validation::privateHostPort("10.0.0.7:1024"), (HostPort { "10.0.0.7", 1024 }));
    EXPECT_EQ(Validation::privateHostPort("10.0.0.7:65535"), (HostPort { "10.0.0.7", 65535 }));
    for (const std::string text :
        { "192.168.1.5:80", "192.168.1.5:1023", "192.168.1.5:65536", "192.168.1.5:99999999999999999999",
            "192.168.1.5:", "192.168.1.5:-5555", "192.168.1.5:55 55", "192.168.1.5:5555:1", "8.8.8.8:5555",
            "192.168.1.5", ":5555", "adb-ABC-x._adb-tls-connect._tcp" })
        EXPECT_EQ(Validation::privateHostPort(text), std::nullopt) << text;
}
