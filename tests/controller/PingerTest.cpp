#include "controller/Pinger.h"

#include <QCoroTask>

#include <gtest/gtest.h>

#include "support/StandInTool.h"

namespace tessaly {
namespace {

// Replies that would make any run count: a refusal must come before the tool.
const std::string kReplies = "64 bytes from 192.168.1.5: icmp_seq=3 ttl=64 time=4.25 ms\n";

class PingerTest : public ::testing::Test {
protected:
    test::StandInTool tool { "ping" };
    Pinger pinger { tool.path(), { tool.folder() + "/" } };
};

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
