#include <gtest/gtest.h>

#include "phone/ADB.h"

using namespace tessaly;
using Connection = Device::Connection;

namespace {

Device device(std::string serial, std::string state, std::optional<std::string> model, Connection connection)
{
    return Device { std::move(serial), std::move(state), std::move(model), connection };
}

} // namespace

// `adb devices -l` as the tool prints it right after starting its server (older versions print
// the notices on standard output), with Windows line ends and no final line feed.
TEST(ADBParserTest, ParseDevices_RealOutputWithNoise)
{
    const std::string output
        = "* daemon not running; starting now at tcp:5037\r\n"
          "* daemon started successfully\r\n"
          "List of devices attached\r\n"
          "0A1B2C3D4E5F           device usb:1-1 product:sargo model:Pixel_3a device:sargo "
          "transport_id:1\r\n"
          "adb-0A1B2C3D4E5F-Xy9zQw._adb-tls-connect._tcp device product:sargo model:Pixel_3a "
          "device:sargo transport_id:2\r\n"
          "192.168.1.23:5555      offline product:sargo model:Pixel_3a device:sargo "
          "transport_id:3\r\n"
          "R58M12ABCDE            unauthorized usb:1-2 transport_id:4\r\n"
          "emulator-5554\tdevice\r\n"
          "\r\n";
    const std::vector<Device> expected {
        device("0A1B2C3D4E5F", "device", "Pixel_3a", Connection::usb),
        device("adb-0A1B2C3D4E5F-Xy9zQw._adb-tls-connect._tcp", "device", "Pixel_3a", Connection::wifi),
        device("192.168.1.23:5555", "offline", "Pixel_3a", Connection::wifi),
        device("R58M12ABCDE", "unauthorized", std::nullopt, Connection::usb),
        device("emulator-5554", "device", std::nullopt, Connection::usb),
    };
    EXPECT_EQ(ADB::parseDevices(output), expected);
    // The same list with plain line feeds and no final line end reads the same.
    std::string unix;
    for (const char c : output) {
        if (c != '\r')
            unix += c;
    }
    while (!unix.empty() && unix.back() == '\n')
        unix.pop_back();
    EXPECT_EQ(ADB::parseDevices(unix), expected);
}

TEST(ADBParserTest, ParseDevices_HeaderOnlyAndEmpty)
{
    EXPECT_TRUE(ADB::parseDevices("List of devices attached\n\n").empty());
    EXPECT_TRUE(ADB::parseDevices("List of devices attached").empty());
    EXPECT_TRUE(ADB::parseDevices("").empty());
    EXPECT_TRUE(ADB::parseDevices("\n\r\n \t \n").empty());
}

TEST(ADBParserTest, ParseDevices_FieldsOfOneRow)
{
    const auto devices = ADB::parseDevices(
        "List of devices attached\nABC123 device usb:1-1 product:p model:Model_X device:d transport_id:3\n");
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0], device("ABC123", "device", "Model_X", Connection::usb));
}

TEST(ADBParserTest, ParseDevices_DropsUnsafeSerials)
{
    const std::string tooLong(129, 'A');
    const std::string longest(128, 'A');
    const std::string output = tooLong + " device\n" + "-s device\n" + "ab/cd device\n"
        + "caf\xC3\xA9 device\n" + "lonely\n" + longest + " device\n";
    const auto devices = ADB::parseDevices(output);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].serial, longest);
}

TEST(ADBParserTest, ParseDevices_KeepsOrderAndDuplicates)
{
    const auto devices = ADB::parseDevices("B device\nA offline\nB unauthorized\n");
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].serial, "B");
    EXPECT_EQ(devices[1].serial, "A");
    EXPECT_EQ(devices[2].state, "unauthorized");
}

TEST(ADBParserTest, ConnectionType)
{
    const std::vector<std::pair<std::string, Connection>> cases {
        { "192.168.1.23:5555", Connection::wifi },
        { "10.0.0.2:40123", Connection::wifi },
        { "8.8.8.8:5555", Connection::wifi }, // any dotted address is a network link, private or not
        { "192.168.1.23:abc", Connection::wifi },
        { "adb-0A1B-Xy9zQw._adb-tls-connect._tcp", Connection::wifi },
        { "192.168.1.256:5555", Connection::usb },
        { "192.168.1.23", Connection::usb },
        { "192.168.1.23:5555:1", Connection::usb },
        { "emulator-5554", Connection::usb },
        { "0A1B2C3D4E5F", Connection::usb },
        { "", Connection::usb },
    };
    for (const auto& [serial, expected] : cases)
        EXPECT_EQ(ADB::connectionType(serial), expected) << serial;
}

TEST(ADBParserTest, ParseIPFromRoute)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases {
        { "192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.23 \n", "192.168.1.23" },
        // Mobile data first, then Wi-Fi, with CRLF line ends.
        { "10.110.0.0/16 dev rmnet_data1 proto kernel scope link src 10.110.5.9\r\n"
          "192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.23\r\n",
            "192.168.1.23" },
        // A wlan line without a readable source is passed over for the next one.
        { "default via 192.168.1.1 dev wlan0\n192.168.1.0/24 dev wlan0 src 192.168.1.300\n"
          "192.168.2.0/24 dev wlan1 src 192.168.2.7",
            "192.168.2.7" },
        { "10.110.0.0/16 dev rmnet_data1 proto kernel scope link src 10.110.5.9\n", std::nullopt },
        { "192.168.1.0/24 dev wlan0 proto kernel scope link src", std::nullopt },
        { "", std::nullopt },
    };
    for (const auto& [output, expected] : cases)
        EXPECT_EQ(ADB::parseIPFromRoute(output), expected) << output;
}

TEST(ADBParserTest, ParseIPFromAddr)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases {
        { "30: wlan0: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 qdisc mq state UP group default qlen 3000\n"
          "    inet 192.168.1.23/24 brd 192.168.1.255 scope global wlan0\n"
          "       valid_lft forever preferred_lft forever\n",
            "192.168.1.23" },
        { "    inet 10.0.0.5 scope global wlan0\r\n", "10.0.0.5" },
        { "    inet /24 scope global wlan0\n    inet 10.0.0.6/8 scope global wlan0", "10.0.0.6" },
        { "    inet 10.0.0.999/8 scope global wlan0", std::nullopt },
        { "Device \"wlan0\" does not exist.\n", std::nullopt },
        { "    inet", std::nullopt },
        { "", std::nullopt },
    };
    for (const auto& [output, expected] : cases)
        EXPECT_EQ(ADB::parseIPFromAddr(output), expected) << output;
}

TEST(ADBParserTest, ParseWifiFrequency)
{
    const std::string connected = "Wifi is enabled\n"
                                  "Wifi scanning is always available\n"
                                  "==== Primary ClientModeManager instance ====\n"
                                  "Wifi is connected to \"Home\"\n"
                                  "WifiInfo: SSID: \"Home\", BSSID: 02:00:00:00:00:00, RSSI: -55, "
                                  "Link speed: 433Mbps, Frequency: 5180MHz, Net ID: 0, Metered hint: false\n";
    const std::vector<std::pair<std::string, std::optional<int>>> cases {
        { connected, 5180 },
        { "Wifi is connected to \"x\"\r\nWifiInfo: RSSI: -40, Frequency: 2412 MHz\r\n", 2412 },
        { "Wifi is connected to \"x\"\nFrequency:6115MHz", 6115 },
        { "Wifi is connected\n\tFrequency:   5745MHz, Frequency: 2412MHz", 5745 },
        // Only the first Frequency piece counts.
        { "Wifi is connected, Frequency: unknown, Frequency: 2412MHz", std::nullopt },
        { "Wifi is connected, Frequency: 99999999999999999999MHz", std::nullopt },
        { "Wifi is connected, Frequency: -2412MHz", std::nullopt },
        { "Wifi is connected, RSSI: -40", std::nullopt },
        { "Wifi is disconnected\nWifiInfo: Frequency: 5180MHz", std::nullopt },
        { "Frequency: 5180MHz", std::nullopt },
        { "", std::nullopt },
    };
    for (const auto& [output, expected] : cases)
        EXPECT_EQ(ADB::parseWifiFrequency(output), expected) << output;
    EXPECT_EQ(wifiBandFromFrequencyMHz(*ADB::parseWifiFrequency(connected)), WiFiBand::ghz5);
}
