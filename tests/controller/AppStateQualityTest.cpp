#include <gtest/gtest.h>

#include "support/ControllerFakes.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::PlacedAppState;
using test::wifiPhone;
using Link = ConnectionQuality::Link;

std::string pingReplies(double ms)
{
    std::string out;
    for (int seq = 1; seq <= 12; ++seq) // the first two are warm-ups
        out += "64 bytes from 192.168.1.40: icmp_seq=" + std::to_string(seq)
            + " ttl=64 time=" + std::to_string(ms) + " ms\n";
    return out;
}

TEST(AppStateQualityTest, MenuCheckMeasuresAtMostOnceEveryTwentySecondsPerLinkKind)
{
    ControllerRig rig;
    rig.network->link = MacNetwork::WiFiLink { WiFiBand::ghz5, -50, "wlan0" };
    rig.adb.on({ "-s", "192.168.1.40:5555", "shell", "cmd", "wifi", "status" },
        { .out = "Wifi is enabled\nWifi is connected to \"home\"\nWifiInfo: SSID: home, Frequency: 2437MHz, "
                 "RSSI: -55" });
    rig.ping.otherwise({ .out = pingReplies(3.0) });
    PlacedAppState state(rig.services());
    state.place({ wifiPhone("192.168.1.40:5555") }, "192.168.43.1");

    state.checkQualityIfNeeded();
    EXPECT_TRUE(state.isCheckingQuality());
    state.checkQualityIfNeeded(); // already under way
    ASSERT_TRUE(test::waitUntilIdle(state));
    EXPECT_FALSE(state.isCheckingQuality());
    EXPECT_EQ(rig.ping.calls(),
        (std::vector<std::vector<std::string>> {
            { "-n", "-c", "12", "-i", "0.1", "-w", "4", "192.168.1.40" } }));
    const ConnectionQuality router = state.quality().value_or(ConnectionQuality {});
    EXPECT_EQ(router.link, Link::router);
    EXPECT_EQ(router.phoneBand, WiFiBand::ghz2_4);
    EXPECT_EQ(router.ping.value_or(PingResult {}).times.size(), 10u);
    EXPECT_EQ(router.rating(), ConnectionQuality::Rating::ok); // the phone is on 2.4 GHz

    rig.clock->current += 19.5;
    state.checkQualityIfNeeded();
    EXPECT_FALSE(state.isCheckingQuality());
    rig.clock->current += 0.5;
    state.checkQualityIfNeeded();
    EXPECT_TRUE(state.isCheckingQuality());
    ASSERT_TRUE(test::waitUntilIdle(state));

    // Another link kind is measured at once: no band question on a hotspot, no ping of a service name or
    // cable.
    rig.adb.clearCalls();
    rig.ping.clearCalls();
    const std::string service = "adb-X._adb-tls-connect._tcp";
    for (const auto& [phone, link] : { std::pair { wifiPhone("192.168.43.1:5555"), Link::hotspot },
             std::pair { wifiPhone(service), Link::router },
             std::pair { test::usbPhone("R58N"), Link::usb } }) {
        state.place({ phone }, "192.168.43.1");
        state.checkQualityIfNeeded();
        ASSERT_TRUE(test::waitUntilIdle(state));
        EXPECT_EQ(state.quality()->link, link);
        EXPECT_EQ(state.quality()->phoneBand, std::nullopt);
    }
    EXPECT_EQ(rig.adb.calls(),
        (std::vector<std::vector<std::string>> { { "-s", service, "shell", "cmd", "wifi", "status" } }));
    EXPECT_EQ(rig.ping.calls().size(), 1u);
    state.place({});
    state.checkQualityIfNeeded();
    EXPECT_EQ(state.quality(), std::nullopt);
}

TEST(AppStateQualityTest, PresetReusesARecentMeasurementOrJoinsTheOneUnderWay)
{
    ControllerRig rig;
    rig.ping.otherwise({ .out = pingReplies(3.0), .delay = 0.4 });
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
    QCoro::waitFor(state.recentQuality(wifi));
    ASSERT_EQ(rig.ping.calls().size(), 2u);
    EXPECT_EQ(rig.ping.calls().back()[2], "8"); // the preset's shorter burst
}

} // namespace
} // namespace tessaly
