#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/ComputerName.h"

namespace tessaly {
namespace {

TEST(ComputerNameTest, PrettyHostNameReadsTheShellStyleAssignment)
{
    const std::pair<std::string, std::string> cases[] = {
        { "PRETTY_HOSTNAME=\"Ana's laptop\"\n", "Ana's laptop" },
        { "CHASSIS=laptop\r\nPRETTY_HOSTNAME='Ana \\\"Home\\\"'  \r\nLOCATION=desk\n", "Ana \"Home\"" },
        { "PRETTY_HOSTNAME=First\nPRETTY_HOSTNAME=Second", "Second" },
        { "PRETTY_HOSTNAME=Ends\\", "Ends\\" },
        { "PRETTY_HOSTNAME=\"", "\"" },
        { "  PRETTY_HOSTNAME=indented\nXPRETTY_HOSTNAME=other\nPRETTY_HOSTNAMES=more", "" },
        { "", "" },
    };
    for (const auto& [text, name] : cases)
        EXPECT_EQ(ComputerName::prettyHostName(text), name) << text;
}

TEST(ComputerNameTest, CurrentFallsBackToTheHostName)
{
    const std::string file
        = std::filesystem::temp_directory_path() / ("machine-info-" + std::to_string(getpid()));
    std::ofstream(file) << "PRETTY_HOSTNAME=\"Ana's laptop\"\n";
    EXPECT_EQ(ComputerName::current(file), "Ana's laptop");
    std::ofstream(file) << "CHASSIS=laptop\n";
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(ComputerName::current(file), host);
    EXPECT_EQ(ComputerName::current(file + ".missing"), host);
    std::filesystem::remove(file);
}

} // namespace
} // namespace tessaly
