#include <gtest/gtest.h>

#include "support/ControllerFakes.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::deviceList;
using test::PlacedAppState;
using test::StandInTool;
using Args = std::vector<std::string>;
using Link = ConnectionQuality::Link;

Device phone(std::string serial, Device::Connection connection)
{
    return Device { std::move(serial), "device", std::nullopt, connection };
}

std::string pingReplies(const std::string& host, double ms)
{
    std::string out = "PING " + host + " (" + host + ") 56(84) bytes of data.\n";
    for (int seq = 1; seq <= 12; ++seq)
        out += "64 bytes from " + host + ": icmp_seq=" + std::to_string(seq)
            + " ttl=64 time=" + std::to_string(ms) + " ms\n";
    return out;
}

TEST(AppStateQualityTest, LinkKindFollowsTheSerialAndTheRouter)
{
    ControllerRig rig;
    PlacedAppState state(rig.services());
    state.place({}, "192.168.43.1");
    EXPECT_EQ(state.linkKind(phone("R58N", Device::Connection::usb)), Link::usb);
    EXPECT_EQ(state.linkKind(phone("192.168.43.1:5555", Device::Connection::wifi)), Link::hotspot);
    EXPECT_EQ(state.linkKind(phone("192.168.1.40:5555", Device::Connection::wifi)), Link::router);
    EXPECT_EQ(state.linkKind(phone("adb-X._adb-tls-connect._tcp", Device::Connection::wifi)), Link::router);
}

TEST(AppStateQualityTest, MeasurementAsksBandsAndPingsOnlyWhereItMeans)
{
    ControllerRig rig;
    rig.network->link = MacNetwork::WiFiLink { WiFiBand::ghz5, -50, "wlan0" };
    rig.adb.on({ "-s", "192.168.1.40:5555", "shell", "cmd", "wifi", "status" },
        { .out = "Wifi is enabled\nWifi is connected to \"home\"\nWifiInfo: SSID: home, Frequency: 2437MHz, "
                 "RSSI: -55" });
    rig.ping.otherwise({ .out = pingReplies("192.168.1.40", 4.0) });
    PlacedAppState state(rig.services());
    state.place({}, "192.168.43.1");

    const ConnectionQuality router
        = QCoro::waitFor(state.measureQuality(phone("192.168.1.40:5555", Device::Connection::wifi), 12));
    EXPECT_EQ(router.link, Link::router);
    EXPECT_EQ(router.phoneBand, WiFiBand::ghz2_4);
    EXPECT_EQ(router.macBand, WiFiBand::ghz5);
    ASSERT_TRUE(router.ping.has_value());
    EXPECT_EQ(router.ping->times.size(), 10u);
    EXPECT_EQ(router.rating(), ConnectionQuality::Rating::ok); // the phone is on 2.4 GHz
    EXPECT_EQ(router.measuredAt, rig.clock->current);

    rig.adb.clearCalls();
    const ConnectionQuality hotspot
        = QCoro::waitFor(state.measureQuality(phone("192.168.43.1:5555", Device::Connection::wifi), 8));
    EXPECT_EQ(hotspot.link, Link::hotspot);
    EXPECT_EQ(hotspot.phoneBand, std::nullopt);
    EXPECT_TRUE(rig.adb.calls().empty()); // no band question on a hotspot

    rig.ping.clearCalls();
    const ConnectionQuality usb
        = QCoro::waitFor(state.measureQuality(phone("R58N", Device::Connection::usb), 12));
    EXPECT_EQ(usb.link, Link::usb);
    EXPECT_TRUE(rig.ping.calls().empty());

    const ConnectionQuality named = QCoro::waitFor(
        state.measureQuality(phone("adb-X._adb-tls-connect._tcp", Device::Connection::wifi), 12));
    EXPECT_FALSE(named.canPing);
    EXPECT_TRUE(rig.ping.calls().empty());
}

TEST(AppStateQualityTest, MenuCheckRunsAtMostOnceEveryTwentySeconds)
{
    ControllerRig rig;
    rig.ping.otherwise({ .out = pingReplies("192.168.1.40", 3.0) });
    PlacedAppState state(rig.services());
    state.place({ phone("192.168.1.40:5555", Device::Connection::wifi) });

    state.checkQualityIfNeeded();
    EXPECT_TRUE(state.isCheckingQuality());
    state.checkQualityIfNeeded(); // already under way
    ASSERT_TRUE(test::waitUntilIdle(state));
    EXPECT_FALSE(state.isCheckingQuality());
    ASSERT_TRUE(state.quality().has_value());
    EXPECT_EQ(rig.ping.calls(),
        (std::vector<Args> { { "-n", "-c", "12", "-i", "0.1", "-w", "4", "192.168.1.40" } }));

    rig.clock->current += 19.5;
    state.checkQualityIfNeeded();
    EXPECT_FALSE(state.isCheckingQuality());
    rig.clock->current += 0.5;
    state.checkQualityIfNeeded();
    EXPECT_TRUE(state.isCheckingQuality());
    ASSERT_TRUE(test::waitUntilIdle(state));
    EXPECT_EQ(rig.ping.calls().size(), 2u);

    // Another link kind is measured at once; no pickable phone clears the line.
    state.place({ phone("R58N", Device::Connection::usb) });
    state.checkQualityIfNeeded();
    ASSERT_TRUE(test::waitUntilIdle(state));
    EXPECT_EQ(state.quality()->link, Link::usb);
    state.place({});
    state.checkQualityIfNeeded();
    EXPECT_EQ(state.quality(), std::nullopt);
}

TEST(AppStateQualityTest, PresetReusesARecentMeasurementOrJoinsTheOneUnderWay)
{
    ControllerRig rig;
    StandInTool::Answer slow { .out = pingReplies("192.168.1.40", 3.0) };
    slow.delay = 0.4;
    rig.ping.otherwise(slow);
    PlacedAppState state(rig.services());
    const Device wifi = phone("192.168.1.40:5555", Device::Connection::wifi);
    state.place({ wifi });

    state.checkQualityIfNeeded();
    const std::optional<ConnectionQuality> joined = QCoro::waitFor(state.recentQuality(wifi));
    ASSERT_TRUE(joined.has_value());
    EXPECT_EQ(rig.ping.calls().size(), 1u); // joined, not measured twice
    ASSERT_TRUE(test::waitUntilIdle(state));

    rig.clock->current += 59;
    QCoro::waitFor(state.recentQuality(wifi));
    EXPECT_EQ(rig.ping.calls().size(), 1u);
    rig.clock->current += 1;
    const auto fresh = QCoro::waitFor(state.recentQuality(wifi));
    EXPECT_EQ(rig.ping.calls().size(), 2u);
    EXPECT_EQ(rig.ping.calls().back()[2], "8"); // the preset's shorter burst
    EXPECT_EQ(state.quality()->measuredAt, fresh->measuredAt);
}

} // namespace
} // namespace tessaly
