#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "FuzzTargets.h"

namespace tessaly {
namespace {

// Every committed seed goes through the same entry function as the fuzzer's, under the normal
// test run (and its sanitizer build), so a seed that once crashed stays fixed.
TEST(FuzzCorpus_Replay, EverySeedPassesItsTarget)
{
    const std::filesystem::path corpus = TESSALY_FUZZ_CORPUS;
    for (const auto& target : fuzz::targets) {
        const auto folder = corpus / target.name;
        ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
        int replayed = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_NO_THROW(target.run(bytes.data(), bytes.size())) << entry.path();
            ++replayed;
        }
        EXPECT_GT(replayed, 0) << target.name;
    }
}

TEST(FuzzCorpus_Replay, ChannelSeedsOpenWithTheFixedChannel)
{
    const auto folder = std::filesystem::path(TESSALY_FUZZ_CORPUS) / "secureChannelOpen";
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SecureChannel channel = fuzz::fixedChannel(false);
        EXPECT_NO_THROW(channel.open(bytes)) << entry.path();
    }
}

} // namespace
} // namespace tessaly
