#include <gtest/gtest.h>

#include "phone/ADB.h"
#include "phone/ADBPairing.h"
#include "phone/WiFiBand.h"

using namespace tessaly;
using Connection = Device::Connection;

// `adb devices -l` as the tool prints it right after starting its server (older versions print
// the notices on standard output), with Windows line ends and no final line feed.
TEST(ADBParserTest, ParseDevices_RealOutputWithNoiseAndUnsafeSerials)
{
    const std::string output
        = "* daemon not running; starting now at tcp:5037\r\n"
          "* daemon started successfully\r\n"
          "List of devices attached\r\n"
          "0A1B2C3D4E5F           device usb:1-1 product:sargo model:Pixel_3a device:sargo transport_id:1\r\n"
          "adb-0A1B2C3D4E5F-Xy9zQw._adb-tls-connect._tcp device product:sargo model:Pixel_3a "
          "transport_id:2\r\n"
          "192.168.1.23:5555      offline product:sargo model:Pixel_3a device:sargo transport_id:3\r\n"
          "R58M12ABCDE            unauthorized usb:1-2 transport_id:4\r\n"
          "emulator-5554\tdevice";
    const std::vector<Device> expected {
        { "0A1B2C3D4E5F", "device", "Pixel_3a", Connection::usb },
        { "adb-0A1B2C3D4E5F-Xy9zQw._adb-tls-connect._tcp", "device", "Pixel_3a", Connection::wifi },
        { "192.168.1.23:5555", "offline", "Pixel_3a", Connection::wifi },
        { "R58M12ABCDE", "unauthorized", std::nullopt, Connection::usb },
        { "emulator-5554", "device", std::nullopt, Connection::usb },
    };
    EXPECT_EQ(ADB::parseDevices(output), expected);
    std::string unix = output + "\n\n";
    std::erase(unix, '\r');
    EXPECT_EQ(ADB::parseDevices(unix), expected);
    // Unsafe serials are dropped, empty lists read as nothing.
    const std::string longest(128, 'A');
    const auto devices = ADB::parseDevices(std::string(129, 'A') + " device\n-s device\nab/cd device\n"
        + "caf\xC3\xA9 device\nlonely\n" + longest + " device\n");
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].serial, longest);
    for (const std::string empty :
        { "List of devices attached\n\n", "List of devices attached", "", "\n\r\n \t \n" })
        EXPECT_TRUE(ADB::parseDevices(empty).empty()) << empty;
}

TEST(ADBParserTest, ConnectionType)
{
    // Any dotted address with a port is a network link, private or not.
    for (const std::string serial :
        { "192.168.1.23:5555", "8.8.8.8:5555", "192.168.1.23:abc", "adb-0A1B-Xy9zQw._adb-tls-connect._tcp" })
        EXPECT_EQ(ADB::connectionType(serial), Connection::wifi) << serial;
    for (const std::string serial :
        { "192.168.1.256:5555", "192.168.1.23", "192.168.1.23:5555:1", "emulator-5554", "0A1B2C3D4E5F", "" })
        EXPECT_EQ(ADB::connectionType(serial), Connection::usb) << serial;
}

TEST(ADBParserTest, ParseIPFromRouteAndAddr)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> routes {
        // A wlan line without a readable source is passed over for the next one.
        { "default via 192.168.1.1 dev wlan0\r\n192.168.1.0/24 dev wlan0 src 192.168.1.300\r\n"
          "192.168.2.0/24 dev wlan1 src 192.168.2.7 \r\n",
            "192.168.2.7" },
        { "10.110.0.0/16 dev rmnet_data1 proto kernel scope link src 10.110.5.9\n", std::nullopt },
        { "192.168.1.0/24 dev wlan0 proto kernel scope link src", std::nullopt },
    };
    for (const auto& [output, expected] : routes)
        EXPECT_EQ(ADB::parseIPFromRoute(output), expected) << output;
    const std::vector<std::pair<std::string, std::optional<std::string>>> addresses {
        { "30: wlan0: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 qdisc mq state UP group default qlen 3000\n"
          "    inet 192.168.1.23/24 brd 192.168.1.255 scope global wlan0\n"
          "       valid_lft forever preferred_lft forever\n",
            "192.168.1.23" },
        { "    inet /24 scope global wlan0\r\n    inet 10.0.0.6 scope global wlan0", "10.0.0.6" },
        { "    inet 10.0.0.999/8 scope global wlan0", std::nullopt },
        { "Device \"wlan0\" does not exist.\n", std::nullopt },
        { "    inet", std::nullopt },
    };
    for (const auto& [output, expected] : addresses)
        EXPECT_EQ(ADB::parseIPFromAddr(output), expected) << output;
}

TEST(ADBParserTest, ParseWifiFrequency)
{
    const std::vector<std::pair<std::string, std::optional<int>>> cases {
        { "Wifi is enabled\nWifi is connected to \"Home\"\nWifiInfo: SSID: \"Home\", RSSI: -55, "
          "Link speed: 433Mbps, Frequency: 5180MHz, Net ID: 0, Metered hint: false\n",
            5180 },
        { "Wifi is connected to \"x\"\r\nWifiInfo: RSSI: -40, Frequency: 2412 MHz\r\n", 2412 },
        // Only the first Frequency piece counts.
        { "Wifi is connected, Frequency: unknown, Frequency: 2412MHz", std::nullopt },
        { "Wifi is connected, Frequency: 99999999999999999999MHz", std::nullopt },
        { "Wifi is disconnected\nWifiInfo: Frequency: 5180MHz", std::nullopt },
        { "Frequency: 5180MHz", std::nullopt },
    };
    for (const auto& [output, expected] : cases)
        EXPECT_EQ(ADB::parseWifiFrequency(output), expected) << output;
}

TEST(ADBParserTest, WifiBandFromFrequencyAtEveryBoundary)
{
    const std::vector<std::pair<std::int64_t, std::optional<WiFiBand>>> cases { { 2399, std::nullopt },
        { 2400, WiFiBand::ghz2_4 }, { 2499, WiFiBand::ghz2_4 }, { 2500, std::nullopt },
        { 4899, std::nullopt }, { 4900, WiFiBand::ghz5 }, { 5924, WiFiBand::ghz5 }, { 5925, WiFiBand::ghz6 },
        { 7199, WiFiBand::ghz6 }, { 7200, std::nullopt }, { 0, std::nullopt }, { -5180, std::nullopt } };
    for (const auto& [frequency, expected] : cases)
        EXPECT_EQ(wifiBandFromFrequencyMHz(frequency), expected) << frequency;
}

TEST(ADBParserTest, PairingReadsTheVersionAndKeepsThePasswordOutOfOutput)
{
    const std::tuple<std::string, std::optional<std::string>, std::optional<bool>> cases[] = {
        { "Android Debug Bridge version 1.0.41\r\nVersion 29.0.6-debian\r\n", "29.0.6-debian", false },
        { "Version 30.0.0", "30.0.0", true },
        { "Android Debug Bridge version 1.0.41\n", std::nullopt, std::nullopt },
        { "Version 3O.0.1\n", "3O.0.1", std::nullopt },
    };
    for (const auto& [output, version, canPair] : cases) {
        EXPECT_EQ(ADBPairing::parseVersion(output), version) << output;
        EXPECT_EQ(ADBPairing::versionCanPair(version.value_or("")), canPair) << output;
    }
    // adb 29 answers `pair` with its help, later ones with a line; a wrong code is not that.
    const std::pair<std::string, bool> refusals[]
        = { { "Version 29.0.6\nglobal options:\n -a  listen on", true },
              { "adb: unknown command pair", true }, { "Failed: Wrong password", false },
              { "global options: ", false } };
    for (const auto& [output, refused] : refusals)
        EXPECT_EQ(ADBPairing::isUnknownCommand(output), refused) << output;
    EXPECT_EQ(ADBPairing::withoutSecret("pair 1.2.3.4:5 Pw9 said Pw9Pw9", "Pw9"),
        "pair 1.2.3.4:5 •••••• said ••••••••••••");
}
