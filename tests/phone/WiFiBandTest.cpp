#include <gtest/gtest.h>

#include "phone/WiFiBand.h"

using namespace tessaly;

TEST(WiFiBandTest, FromFrequencyAtEveryBoundary)
{
    const std::vector<std::pair<std::int64_t, std::optional<WiFiBand>>> cases { { 2399, std::nullopt },
        { 2400, WiFiBand::ghz2_4 }, { 2499, WiFiBand::ghz2_4 }, { 2500, std::nullopt },
        { 4899, std::nullopt }, { 4900, WiFiBand::ghz5 }, { 5924, WiFiBand::ghz5 }, { 5925, WiFiBand::ghz6 },
        { 7199, WiFiBand::ghz6 }, { 7200, std::nullopt }, { 0, std::nullopt }, { -5180, std::nullopt } };
    for (const auto& [frequency, expected] : cases)
        EXPECT_EQ(wifiBandFromFrequencyMHz(frequency), expected) << frequency;
}
