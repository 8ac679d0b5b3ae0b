#include "support/StandInTool.h"

#include "tools/ProcessRunner.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tessaly::test {
namespace {

ProcessResult call(const StandInTool& tool, const std::vector<std::string>& arguments)
{
    return ProcessRunner::runBlocking(tool.path(), arguments, {}, 5);
}

TEST(StandInToolTest, AnswersExactRulesThenPrefixesThenOtherwise)
{
    StandInTool adb("adb");
    adb.onPrefix({ "shell" }, { .out = "any shell" });
    adb.onPrefix({ "shell", "ip" }, { .out = "ip prefix" });
    adb.on({ "shell", "ip", "route" }, { .out = "exact", .exitCode = 4 });
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases
        = { { { "shell", "ip", "route" }, "exact" }, { { "shell", "ip", "addr" }, "any shell" },
              { { "shell" }, "any shell" }, { { "devices" }, "" }, { {}, "" } };
    for (const auto& [arguments, out] : cases)
        EXPECT_EQ(call(adb, arguments).stdOut, out) << arguments.size();
    EXPECT_EQ(call(adb, { "shell", "ip", "route" }).exitCode, 4);
    adb.otherwise({ .err = "unknown command", .exitCode = 1 });
    adb.on({ "shell", "ip", "route" }, { .out = "replaced" });
    EXPECT_EQ(call(adb, { "devices" }).combinedOutput(), "unknown command");
    EXPECT_EQ(call(adb, { "shell", "ip", "route" }).stdOut, "replaced");
    EXPECT_EQ(call(adb, { "shell", "ip", "route", "x" }).stdOut, "any shell");
}

TEST(StandInToolTest, SequenceAnswersInTurnAndRepeatsTheLast)
{
    StandInTool adb("adb");
    adb.onSequence({ "get-state" }, { { .out = "offline" }, { .out = "device" } });
    for (const std::string state : { "offline", "device", "device" })
        EXPECT_EQ(call(adb, { "get-state" }).stdOut, state);
    adb.onSequence({ "get-state" }, { { .out = "one" }, { .out = "two" } }); // scripted again: starts over
    EXPECT_EQ(call(adb, { "get-state" }).stdOut, "one");
}

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
