// Feeds every reader of outside text random bytes, truncated real answers and mutated real
// answers. Nothing may crash, throw or return a value that breaks the reader's promise.
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
    "5180MHz, "
    "Net ID: 0\n",
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
        ASSERT_EQ(device.state.find_first_of(" \t\r\n"), std::string::npos);
        if (device.model) {
            ASSERT_EQ(device.model->find_first_of(" \t\r\n"), std::string::npos);
        }
        ASSERT_EQ(device.connection, ADB::connectionType(device.serial));
    }
    (void)ADB::connectionType(text);
    if (const auto address = ADB::parseIPFromRoute(text)) {
        ASSERT_TRUE(Validation::parseIPv4(*address));
    }
    if (const auto address = ADB::parseIPFromAddr(text)) {
        ASSERT_TRUE(Validation::parseIPv4(*address));
    }
    if (const auto frequency = ADB::parseWifiFrequency(text)) {
        ASSERT_GE(*frequency, 0);
    }

    if (const auto reading = ScrcpyOutput::fps(text)) {
        ASSERT_GE(reading->fps, 0);
        ASSERT_GE(reading->skipped, 0);
    }
    if (const auto encoder = ScrcpyOutput::hardwareH264Encoder(text)) {
        ASSERT_TRUE(Validation::isSafeEncoderName(*encoder));
    }
    (void)ScrcpyOutput::looksLikeEncoderError(text);
    if (const auto preset = qualityPresetFromRaw(text)) {
        ASSERT_EQ(rawValue(*preset), text);
    }

    (void)Validation::isSafeSerial(text);
    (void)Validation::isSafeEncoderName(text);
    (void)Validation::isSafeFileName(text);
    if (Validation::isSafePhonePath(text)) {
        ASSERT_EQ(text.substr(0, 7), "/sdcard");
        ASSERT_EQ(std::string(text).find("/../"), std::string::npos);
    }
    if (const auto address = Validation::parseIPv4(text)) {
        for (const int number : *address)
            ASSERT_TRUE(number >= 0 && number <= 255);
    }
    if (const auto hostPort = Validation::privateHostPort(text)) {
        ASSERT_TRUE(Validation::isPrivateLANIPv4(hostPort->ip));
        ASSERT_TRUE(hostPort->port >= 1024 && hostPort->port <= 65535);
    }
}

} // namespace

TEST(ParserRobustnessTest, TruncatedRealAnswers)
{
    for (const std::string& sample : kSamples) {
        for (std::size_t length = 0; length <= sample.size(); ++length) {
            checkEveryReader(std::string_view(sample).substr(0, length));
            checkEveryReader(std::string_view(sample).substr(length));
            if (HasFatalFailure())
                return;
        }
    }
}

TEST(ParserRobustnessTest, MutatedRealAnswers)
{
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::string text = kSamples[random() % kSamples.size()];
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const std::size_t at = random() % text.size();
            const char byte
                = random() % 2 ? kInteresting[random() % kInteresting.size()] : static_cast<char>(random());
            switch (random() % 3) {
            case 0:
                text[at] = byte;
                break;
            case 1:
                text.insert(at, 1, byte);
                break;
            default:
                text.erase(at, 1 + random() % 16);
                break;
            }
        }
        checkEveryReader(text);
        if (HasFatalFailure())
            FAIL() << "round " << round;
    }
}

TEST(ParserRobustnessTest, RandomBytes)
{
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string text(random() % 300, '\0');
        for (char& c : text)
            c = random() % 4 ? kInteresting[random() % kInteresting.size()] : static_cast<char>(random());
        checkEveryReader(text);
        if (HasFatalFailure())
            FAIL() << "round " << round;
    }
}

TEST(ParserRobustnessTest, LargeAnswersStayLinear)
{
    // A full 64 KiB answer of endless fields, separators or digits is read in one pass.
    for (const std::string& piece : { std::string("wlan src inet "), std::string(","), std::string("9"),
             std::string("\n"), std::string("(+"), std::string(" fps") }) {
        std::string text;
        while (text.size() < 65536)
            text += piece;
        text.insert(0, "Wifi is connected, Frequency: ");
        checkEveryReader(text);
    }
}
