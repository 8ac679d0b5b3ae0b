#include "support/StandInTool.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tessaly::test {
namespace {

// scrcpy runs under a pseudo-terminal: a scripted pause splits the output into separate reads.
TEST(StandInToolTest, ChunksArriveSeparatelyOnAPseudoTerminal)
{
    StandInTool scrcpy("scrcpy");
    scrcpy.otherwise(
        { .chunks = { { .text = "INFO: Renderer: opengl" }, { .text = " ES\n", .delayBefore = 0.3 } } });
    const std::string path = scrcpy.path();
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl(path.c_str(), path.c_str(), nullptr);
        ::_exit(127);
    }
    std::vector<std::string> reads;
    char buffer[256];
    ssize_t count = 0;
    for (pollfd wait { master, POLLIN, 0 };
         ::poll(&wait, 1, 5000) > 0 && (count = ::read(master, buffer, 256)) > 0;)
        reads.emplace_back(buffer, static_cast<std::size_t>(count)); // until EIO once the child is gone
    ::close(master);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(reads, (std::vector<std::string> { "INFO: Renderer: opengl", " ES\r\n" }));
}

} // namespace
} // namespace tessaly::test
