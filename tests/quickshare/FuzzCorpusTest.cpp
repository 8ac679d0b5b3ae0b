#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "FuzzTargets.h"

namespace tessaly {
namespace {

// Every committed seed goes through its fuzz target here too, so a seed that once crashed
// stays fixed under the normal and the sanitizer runs.
TEST(FuzzCorpus_Replay, EverySeedPassesItsTarget)
{
    for (const auto& target : fuzz::targets) {
        const auto folder = std::filesystem::path(TESSALY_FUZZ_CORPUS) / target.name;
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

} // namespace
} // namespace tessaly
