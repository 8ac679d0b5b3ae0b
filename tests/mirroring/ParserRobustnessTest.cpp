// Feeds every reader of outside text truncated, mutated and random versions of real answers.
// Nothing may crash, throw or return a value that breaks the reader's promise.
#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "mirroring/ScrcpyOutput.h"
#include "mirroring/StreamSettings.h"
#include "phone/ADB.h"
#include "tools/Validation.h"

using namespace tessaly;

namespace {

const std::vector<std::string> kSamples {
    "* daemon not running; starting now at tcp:5037\r\n* daemon started successfully\r\n"
    "List of devices attached\r\n"
    "0A1B2C3D4E5F           device usb:1-1 product:sargo model:Pixel_3a device:sargo transport_id:1\r\n"
    "adb-0A1B-Xy9zQw._adb-tls-connect._tcp device product:sargo model:Pixel_3a transport_id:2\r\n"
    "192.168.1.23:5555      offline transport_id:3\r\nR58M12ABCDE unauthorized usb:1-2 transport_id:4",
    "10.110.0.0/16 dev rmnet_data1 proto kernel scope link src 10.110.5.9\n"
    "192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.23\n",
    "30: wlan0: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 qdisc mq state UP group default qlen 3000\n"
    "    inet 192.168.1.23/24 brd 192.168.1.255 scope global wlan0\n",
    "Wifi is enabled\nWifi is connected to \"Home\"\nWifiInfo: SSID: \"Home\", RSSI: -55, Frequency: "
    "5180MHz\n",
    "[server] INFO: List of video encoders:\n"
    "    --video-codec=h264 --video-encoder=OMX.qcom.video.encoder.avc (hw) [vendor] (alias for c2.qti.avc)\n"
    "    --video-codec=h264 --video-encoder=c2.qti.avc.encoder       (hw) [vendor]\n",
    "INFO: 58 fps (+3 frames skipped)",
    "ERROR: Capture/encoding error: android.media.MediaCodec$CodecException",
    "/sdcard/DCIM/Camera/Photo 1.jpg",
    "192.168.1.5:5555",
    "lowLatency",
};

// Bytes that matter to the readers, so random text often looks almost right.
const std::string kInteresting = " \t\r\n:./-_,*(+)0123456789aflmsw\xC3\xA9\x80\xFF";

void checkEveryReader(std::string_view text)
{
    for (const Device& device : ADB::parseDevices(text)) {
        ASSERT_TRUE(Validation::isSafeSerial(device.serial)) << device.serial;
        ASSERT_FALSE(device.state.empty());
        ASSERT_EQ((device.state + device.model.value_or("")).find_first_of(" \t\r\n"), std::string::npos);
        ASSERT_EQ(device.connection, ADB::connectionType(device.serial));
    }
    for (const auto& address : { ADB::parseIPFromRoute(text), ADB::parseIPFromAddr(text) })
        ASSERT_TRUE(!address || Validation::parseIPv4(*address)) << *address;
    (void)ADB::parseWifiFrequency(text);
    (void)ScrcpyOutput::fps(text);
    const auto encoder = ScrcpyOutput::hardwareH264Encoder(text);
    ASSERT_TRUE(!encoder || Validation::isSafeEncoderName(*encoder)) << *encoder;
    const auto preset = qualityPresetFromRaw(text);
    ASSERT_TRUE(!preset || rawValue(*preset) == text);
    (void)ScrcpyOutput::looksLikeEncoderError(text);
    for (const auto predicate :
        { Validation::isSafeSerial, Validation::isSafeEncoderName, Validation::isSafeFileName })
        (void)predicate(text);
    ASSERT_TRUE(!Validation::isSafePhonePath(text)
        || (text.starts_with("/sdcard") && text.find("/../") == std::string::npos && !text.ends_with("/..")));
    const auto address = Validation::parseIPv4(text);
    ASSERT_TRUE(!address || std::ranges::all_of(*address, [](int number) { return number <= 255; }));
    const auto hostPort = Validation::privateHostPort(text);
    ASSERT_TRUE(!hostPort
        || (Validation::isPrivateLANIPv4(hostPort->ip) && hostPort->port >= 1024 && hostPort->port <= 65535));
}

} // namespace

TEST(ParserRobustnessTest, TruncatedAndMutatedAnswersAndRandomBytes)
{
    for (const std::string& sample : kSamples) {
        for (std::size_t length = 0; length <= sample.size() && !HasFatalFailure(); ++length) {
            checkEveryReader(std::string_view(sample).substr(0, length));
            checkEveryReader(std::string_view(sample).substr(length));
        }
    }
    std::mt19937 random(20240611);
    const auto byte = [&](unsigned interestingOutOf4) {
        return random() % 4 < interestingOutOf4 ? kInteresting[random() % kInteresting.size()]
                                                : static_cast<char>(random());
    };
    for (int round = 0; round < 3000 && !HasFatalFailure(); ++round) {
        std::string text = kSamples[random() % kSamples.size()];
        for (int edits = 1 + static_cast<int>(random() % 8); edits > 0 && !text.empty(); --edits) {
            const std::size_t at = random() % text.size();
            if (const unsigned kind = random() % 3; kind == 0)
                text[at] = byte(2);
            else if (kind == 1)
                text.insert(at, 1, byte(2));
            else
                text.erase(at, 1 + random() % 16);
        }
        checkEveryReader(text);
        std::string noise(random() % 300, '\0');
        for (char& c : noise)
            c = byte(3);
        checkEveryReader(noise);
    }
}

// Answers of endless fields, separators or digits: for every reader, eight times the text may
// take about eight times as long, far from the sixty-four times of one that scans again for
// every piece.
TEST(ParserRobustnessTest, LargeAnswersStayLinear)
{
    using Reader = std::function<void(std::string_view)>;
    const std::pair<const char*, Reader> readers[] {
        { "devices", [](std::string_view text) { (void)ADB::parseDevices(text); } },
        { "route", [](std::string_view text) { (void)ADB::parseIPFromRoute(text); } },
        { "address", [](std::string_view text) { (void)ADB::parseIPFromAddr(text); } },
        { "frequency", [](std::string_view text) { (void)ADB::parseWifiFrequency(text); } },
        { "fps", [](std::string_view text) { (void)ScrcpyOutput::fps(text); } },
        { "encoder", [](std::string_view text) { (void)ScrcpyOutput::hardwareH264Encoder(text); } },
        { "encoder error", [](std::string_view text) { (void)ScrcpyOutput::looksLikeEncoderError(text); } },
        { "host and port", [](std::string_view text) { (void)Validation::privateHostPort(text); } },
    };
    std::vector<std::pair<std::string, std::string>> answers; // 8 KiB and 64 KiB of each
    for (const std::string piece :
        { "wlan src inet ", ",", "9", "\n", "(+", " fps", "--video-codec=h264 " }) {
        std::string small = "Wifi is connected, Frequency: ";
        while (small.size() < 8192)
            small += piece;
        std::string large = small;
        while (large.size() < 65536)
            large += piece;
        answers.emplace_back(std::move(small), std::move(large));
    }
    const auto secondsFor = [](const Reader& reader, const std::string& text) {
        const auto begin = std::chrono::steady_clock::now();
        reader(text);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    };
    for (const auto& [name, reader] : readers) {
        // The quickest of several runs of each, taken side by side, is the one least disturbed
        // by other work; a busy machine may still spoil a measurement, hardly three in a row.
        double ratio = std::numeric_limits<double>::infinity(), once = 0;
        for (int attempt = 0; attempt < 3 && ratio >= 24; ++attempt) {
            double eightTimes = 0;
            once = 0;
            for (const auto& [small, large] : answers) {
                double bestSmall = std::numeric_limits<double>::infinity(), bestLarge = bestSmall;
                for (int round = 0; round < 9; ++round) {
                    bestSmall = std::min(bestSmall, secondsFor(reader, small));
                    bestLarge = std::min(bestLarge, secondsFor(reader, large));
                }
                once += bestSmall;
                eightTimes += bestLarge;
            }
            ratio = std::min(ratio, eightTimes / once);
        }
        // A reader that stops early takes too little time to measure, and cannot be quadratic.
        if (once > 5e-6) {
            EXPECT_LT(ratio, 24) << name; // three times the growth of a single pass
        }
    }
}
