#include "controller/Pinger.h"

#include <QCoroTask>

#include <gtest/gtest.h>

#include "controller/Clock.h"
#include "support/StandInTool.h"

namespace tessaly {
namespace {

using test::StandInTool;
using Arguments = std::vector<std::string>;
using Link = ConnectionQuality::Link;

constexpr const char* kReplies = "PING 192.168.1.5 (192.168.1.5) 56(84) bytes of data.\n"
                                 "64 bytes from 192.168.1.5: icmp_seq=1 ttl=64 time=31.0 ms\n"
                                 "64 bytes from 192.168.1.5: icmp_seq=2 ttl=64 time=9.10 ms\n"
                                 "64 bytes from 192.168.1.5: icmp_seq=3 ttl=64 time=4.25 ms\n"
                                 "64 bytes from 192.168.1.5: icmp_seq=4 ttl=64 time=5.50 ms\n"
                                 "\n"
                                 "--- 192.168.1.5 ping statistics ---\n"
                                 "4 packets transmitted, 4 received, 0% packet loss, time 302ms\n";

class FixedClock final : public Clock {
public:
    double now() const override { return 1234.5; }
    QCoro::Task<> sleep(double) override { co_return; }
};

class PingerTest : public ::testing::Test {
protected:
    StandInTool tool { "ping" };
    Pinger pinger { tool.path(), { tool.folder() + "/" } };
    FixedClock clock;
};

TEST_F(PingerTest, RunsIputilsPingWithTheLinuxArguments)
{
    tool.otherwise({ .out = kReplies });
    const auto result = QCoro::waitFor(pinger.ping("192.168.1.5", 4));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->times, (std::vector<double> { 4.25, 5.5 }));
    EXPECT_EQ(result->sent, 4);
    EXPECT_EQ(tool.calls(),
        (std::vector<Arguments> { { "-n", "-c", "4", "-i", "0.1", "-w", "4", "192.168.1.5" } }));
}

TEST_F(PingerTest, SilentPhoneGivesAResultWithoutReplies)
{
    tool.otherwise(
        { .out = "PING 10.0.0.7 (10.0.0.7) 56(84) bytes of data.\n\n--- 10.0.0.7 ping statistics ---\n"
                 "12 packets transmitted, 0 received, 100% packet loss, time 4004ms\n",
            .exitCode = 1 });
    const auto result = QCoro::waitFor(pinger.ping("10.0.0.7", 12));
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->times.empty());
    EXPECT_EQ(result->sent, 12);
}

TEST_F(PingerTest, RefusesWithoutRunningAnything)
{
    tool.otherwise({ .out = kReplies });
    for (const char* host : { "8.8.8.8", "100.64.1.2", "127.0.0.1", "192.168.1.255", "192.168.1.0", "::1",
             "192.168.01.5", "-c", "192.168.1.5 ", "" })
        EXPECT_EQ(QCoro::waitFor(pinger.ping(host, 12)), std::nullopt) << host;
    EXPECT_EQ(QCoro::waitFor(pinger.ping("192.168.1.5", 0)), std::nullopt);

    // A tool outside the trusted folder.
    const Pinger untrusted(tool.path(), { "/usr/bin/" });
    EXPECT_EQ(QCoro::waitFor(untrusted.ping("192.168.1.5", 12)), std::nullopt);
    EXPECT_TRUE(tool.calls().empty());
    EXPECT_STREQ(Pinger::kSystemPing, "/usr/bin/ping");
}

TEST_F(PingerTest, MeasureRunsNothingForACable)
{
    const ConnectionQuality quality
        = QCoro::waitFor(pinger.measure(Link::usb, "192.168.1.5", WiFiBand::ghz5, WiFiBand::ghz5, 12, clock));
    EXPECT_EQ(quality.link, Link::usb);
    EXPECT_EQ(quality.ping, std::nullopt);
    EXPECT_EQ(quality.phoneBand, std::nullopt);
    EXPECT_EQ(quality.macBand, std::nullopt);
    EXPECT_TRUE(quality.canPing);
    EXPECT_EQ(quality.measuredAt, 1234.5);
    EXPECT_TRUE(tool.calls().empty());
}

TEST_F(PingerTest, MeasureWithoutAnAddressCannotPing)
{
    const ConnectionQuality quality = QCoro::waitFor(
        pinger.measure(Link::router, std::nullopt, WiFiBand::ghz2_4, WiFiBand::ghz5, 12, clock));
    EXPECT_FALSE(quality.canPing);
    EXPECT_EQ(quality.ping, std::nullopt);
    EXPECT_EQ(quality.phoneBand, WiFiBand::ghz2_4);
    EXPECT_EQ(quality.summaryLine(), "Connection: OK · ping not available");
    EXPECT_TRUE(tool.calls().empty());
}

TEST_F(PingerTest, MeasurePingsThePhone)
{
    tool.otherwise({ .out = kReplies });
    const ConnectionQuality router = QCoro::waitFor(
        pinger.measure(Link::router, "192.168.1.5", WiFiBand::ghz5, WiFiBand::ghz5, 4, clock));
    EXPECT_TRUE(router.canPing);
    EXPECT_EQ(router.summaryLine(), "Connection: Good · ping 6 ms · jitter 1 ms");
    EXPECT_EQ(router.measuredAt, 1234.5);

    // The phone's own band says nothing about a hotspot link.
    const ConnectionQuality hotspot = QCoro::waitFor(
        pinger.measure(Link::hotspot, "192.168.1.5", WiFiBand::ghz2_4, WiFiBand::ghz5, 4, clock));
    EXPECT_EQ(hotspot.phoneBand, std::nullopt);
    EXPECT_EQ(hotspot.macBand, WiFiBand::ghz5);
    EXPECT_EQ(hotspot.rating(), ConnectionQuality::Rating::good);
    EXPECT_EQ(tool.calls().size(), 2u);
}

} // namespace
} // namespace tessaly
