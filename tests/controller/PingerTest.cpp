#include "controller/Pinger.h"

#include <gtest/gtest.h>

#include "support/ControllerFakes.h"

namespace tessaly {
namespace {

using Link = ConnectionQuality::Link;

const std::string kReplies = "PING 192.168.1.5 (192.168.1.5) 56(84) bytes of data.\n"
                             "64 bytes from 192.168.1.5: icmp_seq=1 ttl=64 time=31.0 ms\n"
                             "64 bytes from 192.168.1.5: icmp_seq=2 ttl=64 time=9.10 ms\n"
                             "64 bytes from 192.168.1.5: icmp_seq=3 ttl=64 time=4.25 ms\n"
                             "64 bytes from 192.168.1.5: icmp_seq=4 ttl=64 time=5.50 ms\n\n"
                             "--- 192.168.1.5 ping statistics ---\n"
                             "4 packets transmitted, 4 received, 0% packet loss, time 302ms\n";

class PingerTest : public ::testing::Test {
protected:
    test::StandInTool tool { "ping" };
    Pinger pinger { tool.path(), { tool.folder() + "/" } };
    test::FakeClock clock;
};

TEST_F(PingerTest, RunsIputilsPingWithTheLinuxArguments)
{
    tool.otherwise({ .out = kReplies });
    const auto result = QCoro::waitFor(pinger.ping("192.168.1.5", 4));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->times, (std::vector<double> { 4.25, 5.5 }));
    EXPECT_EQ(result->sent, 4);
    EXPECT_EQ(tool.calls(),
        (std::vector<std::vector<std::string>> {
            { "-n", "-c", "4", "-i", "0.1", "-w", "4", "192.168.1.5" } }));

    // A silent phone: ping exits 1, the result has no replies.
    tool.otherwise(
        { .out = "12 packets transmitted, 0 received, 100% packet loss, time 4004ms\n", .exitCode = 1 });
    const auto silent = QCoro::waitFor(pinger.ping("10.0.0.7", 12));
    ASSERT_TRUE(silent);
    EXPECT_TRUE(silent->times.empty());
    EXPECT_EQ(silent->sent, 12);
}

TEST_F(PingerTest, RefusesWithoutRunningAnything)
{
    tool.otherwise({ .out = kReplies });
    for (const char* host : { "8.8.8.8", "100.64.1.2", "127.0.0.1", "192.168.1.255", "192.168.1.0", "::1",
             "192.168.01.5", "-c", "192.168.1.5 ", "" })
        EXPECT_EQ(QCoro::waitFor(pinger.ping(host, 12)), std::nullopt) << host;
    EXPECT_EQ(QCoro::waitFor(pinger.ping("192.168.1.5", 0)), std::nullopt);
    // A tool outside the trusted folder.
    EXPECT_EQ(QCoro::waitFor(Pinger(tool.path(), { "/usr/bin/" }).ping("192.168.1.5", 12)), std::nullopt);
    EXPECT_TRUE(tool.calls().empty());
}

TEST_F(PingerTest, MeasurePingsOnlyAWirelessPhoneWithAnAddress)
{
    tool.otherwise({ .out = kReplies });
    const auto measure = [&](Link link, std::optional<std::string> host, WiFiBand phoneBand) {
        return QCoro::waitFor(pinger.measure(link, host, phoneBand, WiFiBand::ghz5, 4, clock));
    };
    const ConnectionQuality cable = measure(Link::usb, "192.168.1.5", WiFiBand::ghz5);
    EXPECT_EQ(cable.ping, std::nullopt);
    EXPECT_EQ(cable.phoneBand, std::nullopt);
    EXPECT_EQ(cable.macBand, std::nullopt);
    EXPECT_EQ(cable.measuredAt, clock.current);

    const ConnectionQuality unnamed = measure(Link::router, std::nullopt, WiFiBand::ghz2_4);
    EXPECT_EQ(unnamed.summaryLine(), "Connection: OK · ping not available");
    EXPECT_TRUE(tool.calls().empty());

    EXPECT_EQ(measure(Link::router, "192.168.1.5", WiFiBand::ghz5).summaryLine(),
        "Connection: Good · ping 6 ms · jitter 1 ms");
    // The phone's own band says nothing about a hotspot link.
    const ConnectionQuality hotspot = measure(Link::hotspot, "192.168.1.5", WiFiBand::ghz2_4);
    EXPECT_EQ(hotspot.phoneBand, std::nullopt);
    EXPECT_EQ(hotspot.rating(), ConnectionQuality::Rating::good);
    EXPECT_EQ(tool.calls().size(), 2u);
}

} // namespace
} // namespace tessaly
