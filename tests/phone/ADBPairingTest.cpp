#include <gtest/gtest.h>

#include "phone/ADBPairing.h"

namespace tessaly {
namespace {

using namespace ADBPairing;

TEST(ADBPairing, ReadsTheVersionAndWhetherItCanPair)
{
    const struct {
        std::string output;
        std::optional<std::string> version;
        std::optional<bool> canPair;
    } cases[] = {
        { "Android Debug Bridge version 1.0.41\nVersion 29.0.6-debian\nInstalled as /usr/lib/android-sdk/"
          "platform-tools/adb\n",
            "29.0.6-debian", false },
        { "Android Debug Bridge version 1.0.41\r\nVersion 35.0.1-11580240\r\n", "35.0.1-11580240", true },
        { "Android Debug Bridge version 1.0.41\nVersion 30.0.0", "30.0.0", true },
        { "Android Debug Bridge version 1.0.41\n", std::nullopt, std::nullopt },
        { "Version eleven\n", "eleven", std::nullopt },
        { "Version 3O.0.1\n", "3O.0.1", std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        EXPECT_EQ(parseVersion(c.output), c.version);
        if (c.version) {
            EXPECT_EQ(versionCanPair(*c.version), c.canPair);
        }
    }
}

TEST(ADBPairing, ReadsPairAnswersAndKeepsThePasswordOutOfThem)
{
    EXPECT_TRUE(pairSucceeded("Successfully paired to 192.168.1.23:37105 [guid=adb-R58M-AbCdEf]"));
    EXPECT_FALSE(pairSucceeded("Failed: Wrong password or connection was dropped."));
    EXPECT_TRUE(isUnknownCommand("adb: unknown command pair"));
    EXPECT_FALSE(isUnknownCommand("adb: usage: adb pair HOST[:PORT] [PAIRING CODE]"));
    EXPECT_EQ(withoutSecret("pair 1.2.3.4:5 Pw9 failed: Pw9Pw9", "Pw9"),
        "pair 1.2.3.4:5 •••••• failed: ••••••••••••");
    EXPECT_EQ(withoutSecret("no secret here", ""), "no secret here");
    EXPECT_EQ(qrText("tessaly-k3x9", "Ab3dEf"), "WIFI:T:ADB;S:tessaly-k3x9;P:Ab3dEf;;");
}

} // namespace
} // namespace tessaly
