#include <gtest/gtest.h>

#include "support/ControllerFakes.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::PlacedAppState;
using test::usbPhone;
using test::wifiPhone;
using Args = std::vector<std::string>;
using Link = ConnectionQuality::Link;

std::string pingReplies(const std::string& host, double ms)
{
    std::string out;
    for (int seq = 1; seq <= 12; ++seq) // the first two are warm-ups
        out += "64 bytes from " + host + ": icmp_seq=" + std::to_string(seq)
            + " ttl=64 time=" + std::to_string(ms) + " ms\n";
    return out;
}

TEST(AppStateQualityTest, MeasurementFollowsTheLinkKind)
{
    ControllerRig rig;
    rig.network->link = MacNetwork::WiFiLink { WiFiBand::ghz5, -50, "wlan0" };
    rig.adb.on({ "-s", "192.168.1.40:5555", "shell", "cmd", "wifi", "status" },
        { .out = "Wifi is enabled\nWifi is connected to \"home\"\nWifiInfo: SSID: home, Frequency: 2437MHz, "
                 "RSSI: -55" });
    rig.ping.otherwise({ .out = pingReplies("192.168.1.40", 4.0) });
    PlacedAppState state(rig.services());
    state.place({}, "192.168.43.1");
    const auto measure = [&](const Device& phone) { return QCoro::waitFor(state.measureQuality(phone, 12)); };

    const ConnectionQuality router = measure(wifiPhone("192.168.1.40:5555"));
    EXPECT_EQ(router.link, Link::router);
    EXPECT_EQ(router.phoneBand, WiFiBand::ghz2_4);
    EXPECT_EQ(router.ping.value_or(PingResult {}).times.size(), 10u);
    EXPECT_EQ(router.rating(), ConnectionQuality::Rating::ok); // the phone is on 2.4 GHz

    rig.adb.clearCalls();
    const ConnectionQuality hotspot = measure(wifiPhone("192.168.43.1:5555"));
    EXPECT_EQ(hotspot.link, Link::hotspot);
    EXPECT_EQ(hotspot.phoneBand, std::nullopt);
    EXPECT_TRUE(rig.adb.calls().empty()); // no band question on a hotspot

    rig.ping.clearCalls();
    EXPECT_EQ(measure(usbPhone("R58N")).link, Link::usb);
    const ConnectionQuality named = measure(wifiPhone("adb-X._adb-tls-connect._tcp"));
    EXPECT_EQ(named.link, Link::router);
    EXPECT_FALSE(named.canPing);
    EXPECT_TRUE(rig.ping.calls().empty());
}

TEST(AppStateQualityTest, MenuCheckRunsAtMostOnceEveryTwentySeconds)
{
    ControllerRig rig;
    rig.ping.otherwise({ .out = pingReplies("192.168.1.40", 3.0) });
    PlacedAppState state(rig.services());
    state.place({ wifiPhone("192.168.1.40:5555") });

    state.checkQualityIfNeeded();
    EXPECT_TRUE(state.isCheckingQuality());
    state.checkQualityIfNeeded(); // already under way
    ASSERT_TRUE(test::waitUntilIdle(state));
    EXPECT_FALSE(state.isCheckingQuality());
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
    state.place({ usbPhone("R58N") });
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
    rig.ping.otherwise({ .out = pingReplies("192.168.1.40", 3.0), .delay = 0.4 });
    PlacedAppState state(rig.services());
    const Device wifi = wifiPhone("192.168.1.40:5555");
    state.place({ wifi });

    state.checkQualityIfNeeded();
    EXPECT_TRUE(QCoro::waitFor(state.recentQuality(wifi)).has_value());
    EXPECT_EQ(rig.ping.calls().size(), 1u); // joined, not measured twice
    ASSERT_TRUE(test::waitUntilIdle(state));

    rig.clock->current += 59;
    QCoro::waitFor(state.recentQuality(wifi));
    EXPECT_EQ(rig.ping.calls().size(), 1u);
    rig.clock->current += 1;
    const auto fresh = QCoro::waitFor(state.recentQuality(wifi));
    ASSERT_EQ(rig.ping.calls().size(), 2u);
    EXPECT_EQ(rig.ping.calls().back()[2], "8"); // the preset's shorter burst
    EXPECT_EQ(state.quality()->measuredAt, fresh->measuredAt);
}

} // namespace
} // namespace tessaly
