#include "support/StandInTool.h"

#include "tools/ProcessRunner.h"

#include <cerrno>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/stat.h>
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
    struct Case {
        std::vector<std::string> arguments;
        std::string out;
        int exitCode;
    };
    const std::vector<Case> before = {
        { { "shell", "ip", "route" }, "exact", 4 },
        { { "shell", "ip", "addr" }, "any shell", 0 },
        { { "shell" }, "any shell", 0 },
        { { "devices" }, "", 0 },
        { {}, "", 0 },
    };
    for (const Case& c : before) {
        const ProcessResult result = call(adb, c.arguments);
        EXPECT_EQ(result.stdOut, c.out) << c.arguments.size();
        EXPECT_EQ(result.exitCode, c.exitCode);
    }
    adb.otherwise({ .err = "unknown command", .exitCode = 1 });
    adb.on({ "shell", "ip", "route" }, { .out = "replaced" });
    EXPECT_EQ(call(adb, { "devices" }).combinedOutput(), "unknown command");
    EXPECT_EQ(call(adb, { "devices" }).exitCode, 1);
    EXPECT_EQ(call(adb, { "shell", "ip", "route" }).stdOut, "replaced");
    EXPECT_EQ(call(adb, { "shell", "ip", "route", "x" }).stdOut, "any shell");
}

TEST(StandInToolTest, SequenceAnswersInTurnAndRepeatsTheLast)
{
    StandInTool adb("adb");
    adb.onSequence({ "get-state" }, { { .out = "offline" }, { .out = "unauthorized" }, { .out = "device" } });
    std::vector<std::string> seen;
    for (int i = 0; i < 5; ++i)
        seen.push_back(call(adb, { "get-state" }).stdOut);
    EXPECT_EQ(seen, (std::vector<std::string> { "offline", "unauthorized", "device", "device", "device" }));
    // Scripting the sequence again starts it over.
    adb.onSequence({ "get-state" }, { { .out = "one" }, { .out = "two" } });
    EXPECT_EQ(call(adb, { "get-state" }).stdOut, "one");
    EXPECT_EQ(call(adb, { "get-state" }).stdOut, "two");
}

TEST(StandInToolTest, RecordsEveryCallInOrderWhateverItsBytes)
{
    StandInTool ping("ping");
    const std::vector<std::vector<std::string>> expected = {
        { "-n", "-c", "12", "192.168.1.5" },
        {},
        { "", "a b", "5:x", "\n\r\t", "\xFF\xFE", "é" },
    };
    for (const auto& arguments : expected)
        call(ping, arguments);
    EXPECT_EQ(ping.calls(), expected);
    ping.clearCalls();
    EXPECT_TRUE(ping.calls().empty());
    call(ping, { "again" });
    EXPECT_EQ(ping.calls(), (std::vector<std::vector<std::string>> { { "again" } }));
}

TEST(StandInToolTest, IsARealExecutableFileInItsOwnFolder)
{
    StandInTool scrcpy("scrcpy");
    struct stat info { };
    ASSERT_EQ(::lstat(scrcpy.path().c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    EXPECT_EQ(scrcpy.path(), scrcpy.folder() + "/scrcpy");
    const std::string folder = scrcpy.folder();
    {
        StandInTool other("scrcpy");
        EXPECT_NE(other.folder(), folder);
    }
}

// scrcpy runs under a pseudo-terminal: scripted pauses between chunks arrive as separate reads.
TEST(StandInToolTest, ChunksArriveSeparatelyOnAPseudoTerminal)
{
    StandInTool scrcpy("scrcpy");
    scrcpy.otherwise({ .exitCode = 2,
        .chunks = { { .text = "INFO: Renderer: opengl" }, { .text = " ES\n", .delayBefore = 0.3 },
            { .text = "ERROR: boom\n", .toStderr = true } } });
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, slave, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, slave, STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, master);
    const std::string path = scrcpy.path();
    char* argv[] = { const_cast<char*>(path.c_str()), nullptr };
    char* envp[] = { nullptr };
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(slave);

    std::vector<std::string> reads;
    char buffer[256];
    for (;;) {
        pollfd wait { master, POLLIN, 0 };
        if (::poll(&wait, 1, 5000) <= 0)
            break;
        const ssize_t count = ::read(master, buffer, sizeof buffer);
        if (count <= 0)
            break; // EIO once the child is gone
        reads.emplace_back(buffer, static_cast<std::size_t>(count));
    }
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);

    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads.front(), "INFO: Renderer: opengl");
    std::string all;
    for (const std::string& piece : reads)
        all += piece;
    EXPECT_EQ(all, "INFO: Renderer: opengl ES\r\nERROR: boom\r\n");
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

} // namespace
} // namespace tessaly::test
