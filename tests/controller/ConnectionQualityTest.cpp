#include "controller/ConnectionQuality.h"

#include <gtest/gtest.h>

namespace tessaly {
namespace {

using Link = ConnectionQuality::Link;
using Rating = ConnectionQuality::Rating;

PingResult pings(std::vector<double> times, int sent)
{
    return PingResult { .times = std::move(times), .sent = sent };
}

ConnectionQuality quality(Link link, std::optional<PingResult> ping,
    std::optional<WiFiBand> phoneBand = WiFiBand::ghz5, std::optional<WiFiBand> macBand = WiFiBand::ghz5,
    bool canPing = true)
{
    return {
        .link = link, .phoneBand = phoneBand, .macBand = macBand, .ping = std::move(ping), .canPing = canPing
    };
}

TEST(PingResultTest, ParseKeepsRepliesAfterTheTwoWarmUps)
{
    const std::pair<std::string, std::vector<double>> cases[] {
        // Captured from iputils ping -n -c 5 -i 0.1 -w 4, one reply lost.
        { "PING 192.168.1.5 (192.168.1.5) 56(84) bytes of data.\n"
          "64 bytes from 192.168.1.5: icmp_seq=1 ttl=64 time=48.1 ms\n"
          "64 bytes from 192.168.1.5: icmp_seq=2 ttl=64 time=22.7 ms\n"
          "64 bytes from 192.168.1.5: icmp_seq=3 ttl=64 time=4.25 ms\n\n"
          "64 bytes from 192.168.1.5: icmp_seq=5 ttl=64 time=6.50 ms\n\n"
          "--- 192.168.1.5 ping statistics ---\n"
          "5 packets transmitted, 4 received, 20% packet loss, time 405ms\n"
          "rtt min/avg/max/mdev = 4.250/20.390/48.100/17.114 ms\n",
            { 4.25, 6.5 } },
        { "64 bytes from 10.0.0.2: icmp_seq=0 ttl=64 time=1.5 ms", { 1.5 } },
        { "64 bytes from 10.0.0.2: icmp_seq=3 ttl=64 time=0.045 ms\r\n", { 0.045 } },
        { "x\n64 bytes from 10.0.0.2: icmp_seq=4 ttl=64 time=1234 ms", { 1234 } },
        // Unreadable numbers count as 0, so an unreadable sequence number is kept.
        { "icmp_seq= time=1.2.3 ms", { 0 } }, { "icmp_seq=99999999999999999999999 time=2 ms", { 2 } },
        { "icmp_seq=4 time=99999999" + std::string(400, '9') + " ms", { 0 } },
        { "From 192.168.1.1 icmp_seq=3 Destination Host Unreachable", {} },
        { "rtt min/avg/max/mdev = 4.250/20.390/48.100/17.114 ms time=5", {} }, { "", {} }
    };
    for (const auto& [output, times] : cases)
        EXPECT_EQ(PingResult::parse(output, 12).times, times) << output;
}

TEST(PingResultTest, MedianJitterAndLoss)
{
    const PingResult result = pings({ 5, 9, 6, 30 }, 6);
    EXPECT_EQ(result.medianMs(), 9); // the upper middle
    EXPECT_NEAR(result.jitterMs(), (4.0 + 3.0 + 24.0) / 3.0, 1e-9); // in printed order
    EXPECT_EQ(pings({ 7 }, 3).jitterMs(), 0);
    EXPECT_EQ(pings({}, 3).medianMs(), std::nullopt);
    EXPECT_EQ(pings({}, 3).jitterMs(), 0);

    // sent, kept, loss: the two warm-ups are not counted.
    const std::tuple<int, std::size_t, double> losses[] { { 12, 10, 0 }, { 12, 9, 10 }, { 12, 11, 0 },
        { 12, 0, 100 }, { 12, 14, 0 }, { 2, 0, 0 }, { 0, 0, 0 }, { -3, 0, 0 } };
    for (const auto& [sent, kept, loss] : losses)
        EXPECT_DOUBLE_EQ(pings(std::vector<double>(kept, 1.0), sent).lossPercent(), loss)
            << sent << "/" << kept;
}

TEST(ConnectionQualityTest, RatingAndTip)
{
    const auto fast = pings({ 3, 4, 3, 4, 3, 4, 3, 4, 3, 4 }, 12);
    const auto g24 = WiFiBand::ghz2_4;
    const std::tuple<const char*, ConnectionQuality, Rating, bool> cases[] {
        { "cable", quality(Link::usb, std::nullopt), Rating::good, false },
        { "fast router link", quality(Link::router, fast), Rating::good, false },
        { "no ping result", quality(Link::router, std::nullopt), Rating::poor, true },
        { "no replies", quality(Link::router, pings({}, 12)), Rating::poor, true },
        { "median 15", quality(Link::router, pings({ 15 }, 3)), Rating::ok, false },
        { "median 15.1", quality(Link::router, pings({ 15.1 }, 3)), Rating::ok, true },
        { "median exactly 30", quality(Link::router, pings({ 30 }, 3)), Rating::ok, true },
        { "median 30.1", quality(Link::router, pings({ 30.1 }, 3)), Rating::poor, true },
        { "jitter above 30", quality(Link::router, pings({ 1, 33, 1 }, 5)), Rating::poor, true },
        { "10% lost", quality(Link::router, pings(std::vector<double>(9, 3), 12)), Rating::poor, false },
        { "phone on 2.4 GHz", quality(Link::router, fast, g24), Rating::ok, true },
        { "phone band ignored on hotspot", quality(Link::hotspot, fast, g24), Rating::good, false },
        { "computer on 2.4 GHz", quality(Link::hotspot, fast, std::nullopt, g24), Rating::ok, true },
        { "median above 10", quality(Link::router, pings({ 10.5 }, 3)), Rating::ok, false },
        { "jitter above 10", quality(Link::router, pings({ 1, 12, 1 }, 5)), Rating::ok, false },
        { "jitter above 15", quality(Link::router, pings({ 1, 17, 1 }, 5)), Rating::ok, true },
        { "a little loss", quality(Link::router, pings(std::vector<double>(19, 3), 22)), Rating::ok, false },
        { "no address to ping", quality(Link::router, std::nullopt, WiFiBand::ghz5, WiFiBand::ghz5, false),
            Rating::good, true },
    };
    for (const auto& [name, q, rating, tip] : cases) {
        EXPECT_EQ(q.rating(), rating) << name;
        EXPECT_EQ(q.showsTip(), tip) << name;
    }
}

TEST(ConnectionQualityTest, SummaryAndBandLines)
{
    const std::pair<ConnectionQuality, std::string> summaries[] { { quality(Link::usb, std::nullopt),
                                                                      "Connection: Good · USB cable" },
        { quality(Link::router, pings({ 12.4, 15.6, 12.4, 15.6, 12.4, 12.4, 12.4, 12.4, 12.4, 12.4 }, 12)),
            "Connection: OK · ping 12 ms · jitter 1 ms" },
        { quality(Link::router, pings({ 12.6, 12.6 }, 4)), "Connection: OK · ping 13 ms · jitter 0 ms" },
        { quality(Link::router, pings(std::vector<double>(8, 4), 12)),
            "Connection: Poor · ping 4 ms · jitter 0 ms · 20% lost" },
        { quality(Link::hotspot, pings(std::vector<double>(2, 4), 5)),
            "Connection: Poor · ping 4 ms · jitter 0 ms · 33% lost" },
        { quality(Link::router, std::nullopt, std::nullopt, std::nullopt, false),
            "Connection: Good · ping not available" },
        { quality(Link::router, std::nullopt), "Connection: Poor · phone didn't answer ping" } };
    for (const auto& [q, line] : summaries)
        EXPECT_EQ(q.summaryLine(), line);

    EXPECT_EQ(quality(Link::usb, std::nullopt).bandLine(), std::nullopt);
    EXPECT_EQ(quality(Link::hotspot, std::nullopt, WiFiBand::ghz2_4, WiFiBand::ghz5).bandLine(),
        "Hotspot link: 5 GHz (direct)");
    EXPECT_EQ(quality(Link::hotspot, std::nullopt, WiFiBand::ghz5, std::nullopt).bandLine(), std::nullopt);
    EXPECT_EQ(quality(Link::router, std::nullopt, std::nullopt, std::nullopt).bandLine(),
        "Wi-Fi: phone ? · computer ? (via router)");
    EXPECT_EQ(quality(Link::router, std::nullopt, WiFiBand::ghz6, WiFiBand::ghz2_4).bandLine(),
        "Wi-Fi: phone 6 GHz · computer 2.4 GHz (via router)");
}

} // namespace
} // namespace tessaly
