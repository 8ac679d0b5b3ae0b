#include <gtest/gtest.h>

#include "phone/ADBPairing.h"

namespace tessaly {
namespace {

using namespace ADBPairing;

TEST(ADBPairing, ReadsTheVersionAndKeepsThePasswordOutOfOutput)
{
    const std::tuple<std::string, std::optional<std::string>, std::optional<bool>> cases[] = {
        { "Android Debug Bridge version 1.0.41\r\nVersion 29.0.6-debian\r\n", "29.0.6-debian", false },
        { "Version 30.0.0", "30.0.0", true },
        { "Android Debug Bridge version 1.0.41\n", std::nullopt, std::nullopt },
        { "Version 3O.0.1\n", "3O.0.1", std::nullopt },
    };
    for (const auto& [output, version, canPair] : cases) {
        EXPECT_EQ(parseVersion(output), version) << output;
        EXPECT_EQ(versionCanPair(version.value_or("")), canPair) << output;
    }
    EXPECT_EQ(
        withoutSecret("pair 1.2.3.4:5 Pw9 said Pw9Pw9", "Pw9"), "pair 1.2.3.4:5 •••••• said ••••••••••••");
}

} // namespace
} // namespace tessaly
