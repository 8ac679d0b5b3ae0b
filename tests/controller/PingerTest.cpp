#include "controller/Pinger.h"

#include <QCoroTask>

#include <gtest/gtest.h>

#include "support/StandInTool.h"

namespace tessaly {
namespace {

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

} // namespace
} // namespace tessaly
