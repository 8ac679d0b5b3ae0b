#include "tools/ProcessRunner.h"

#include "support/StandInTool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <QCoreApplication>
#include <QThread>

#include <QCoroTask>

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

namespace tessaly {
namespace {

using test::StandInTool;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

ProcessResult runTool(const StandInTool& tool, const std::vector<std::string>& arguments, double timeout = 5,
    std::size_t limit = ProcessRunner::kDefaultOutputLimit)
{
    return ProcessRunner::runBlocking(
        tool.path(), arguments, ProcessRunner::safeEnvironment(std::nullopt), timeout, limit);
}

std::size_t openDescriptors()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// True when a child of this process has ended without being collected.
bool hasZombieChild()
{
    siginfo_t info {};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

TEST(ProcessRunnerTest, ReturnsStatusAndTrimmedStreams)
{
    StandInTool adb("adb");
    adb.on({ "devices", "-l" },
        { .out = "\n  List of devices attached\nR58M\tdevice \n\n", .err = " warn\r\n", .exitCode = 3 });

    const ProcessResult result = runTool(adb, { "devices", "-l" });

    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.stdOut, "List of devices attached\nR58M\tdevice");
    EXPECT_EQ(result.stdErr, "warn");
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.combinedOutput(), "List of devices attached\nR58M\tdevice\nwarn");
    EXPECT_EQ(adb.calls(), (std::vector<std::vector<std::string>> { { "devices", "-l" } }));
}

TEST(ProcessRunnerTest, QuietToolGivesEmptyResult)
{
    StandInTool tool("adb");
    const ProcessResult result = runTool(tool, {});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.stdOut, "");
    EXPECT_EQ(result.stdErr, "");
    EXPECT_EQ(result.combinedOutput(), "");
    EXPECT_FALSE(result.timedOut);
}

TEST(ProcessRunnerTest, CombinedOutputDropsEmptyStreams)
{
    struct Case {
        std::string out, err, combined;
    };
    for (const Case& c :
        std::vector<Case> { { "a", "", "a" }, { "", "b", "b" }, { "a", "b", "a\nb" }, { "", "", "" } }) {
        ProcessResult result;
        result.stdOut = c.out;
        result.stdErr = c.err;
        EXPECT_EQ(result.combinedOutput(), c.combined) << c.out << "|" << c.err;
    }
}

TEST(ProcessRunnerTest, PassesEveryArgumentUnchangedWithoutAShell)
{
    StandInTool adb("adb");
    const std::vector<std::string> arguments
        = { "shell", "ls -la /sdcard/My Files", "$HOME", "a;b|c&&d", "*", "", "line\nbreak", "'\"", "é✓" };
    const ProcessResult result = runTool(adb, arguments);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(adb.calls(), std::vector<std::vector<std::string>> { arguments });
}

TEST(ProcessRunnerTest, StatusOfASignalledToolIsTheSignalNumber)
{
    StandInTool tool("scrcpy");
    tool.otherwise({ .raiseSignal = SIGSEGV });
    EXPECT_EQ(runTool(tool, {}).exitCode, SIGSEGV);
}

TEST(ProcessRunnerTest, KeepsTheTailOfALongAnswer)
{
    std::string text;
    for (int line = 0; text.size() < 200'000; ++line)
        text += "line " + std::to_string(line) + "\n";
    StandInTool tool("adb");
    tool.otherwise({ .out = text, .err = std::string(100'000, 'e') + "tail" });

    const ProcessResult result = runTool(tool, {}, 5, 1000);

    const std::string tail = text.substr(text.size() - 1000);
    EXPECT_EQ(result.stdOut, ProcessRunner::trimWhitespace(tail));
    EXPECT_TRUE(
        result.stdOut.ends_with("line " + std::to_string(std::count(text.begin(), text.end(), '\n') - 1)));
    // Standard error is held to 65,536 bytes whatever the caller allows for standard output.
    const ProcessResult wide = runTool(tool, {}, 5, ProcessRunner::kListingOutputLimit);
    EXPECT_EQ(wide.stdOut, ProcessRunner::trimWhitespace(text));
    EXPECT_EQ(wide.stdErr.size(), 65536u);
    EXPECT_TRUE(wide.stdErr.ends_with("eetail"));
}

TEST(ProcessRunnerTest, LimitCutInsideACharacterBeginsWithReplacement)
{
    StandInTool tool("adb");
    tool.otherwise({ .out = "ééééé" }); // ten bytes
    const ProcessResult result = runTool(tool, {}, 5, 7);
    EXPECT_EQ(result.stdOut,
        "\xEF\xBF\xBD"
        "ééé");
}

TEST(ProcessRunnerTest, TimeLimitStopsAToolThatEndsOnSigterm)
{
    StandInTool tool("adb");
    tool.otherwise({ .out = "waiting", .delay = 30 });
    const auto start = Clock::now();

    const ProcessResult result = runTool(tool, {}, 0.3);

    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitCode, SIGTERM);
    EXPECT_EQ(result.stdOut, "waiting");
    EXPECT_LT(secondsSince(start), 1.8);
}

TEST(ProcessRunnerTest, ToolIgnoringSigtermIsKilledAfterTheGrace)
{
    StandInTool tool("adb");
    tool.otherwise({ .delay = 30, .ignoreSigterm = true });
    const auto start = Clock::now();

    const ProcessResult result = runTool(tool, {}, 0.3);

    const double elapsed = secondsSince(start);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.exitCode, SIGKILL);
    EXPECT_GT(elapsed, 2.0);
    EXPECT_LT(elapsed, 4.5);
}

TEST(ProcessRunnerTest, RunEndsWithTheToolNotWithItsBackgroundChild)
{
    // As adb start-server: the tool leaves a server behind that holds its output open.
    StandInTool adb("adb");
    adb.on({ "start-server" }, { .out = "* daemon started successfully", .backgroundChildSeconds = 5 });
    const auto start = Clock::now();

    const ProcessResult result = runTool(adb, { "start-server" }, 10);

    EXPECT_LT(secondsSince(start), 2.0);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.stdOut, "* daemon started successfully");
}

TEST(ProcessRunnerTest, OutputWrittenJustBeforeExitIsKept)
{
    // More than a pipe holds, the verdict last, the tool gone right after writing it.
    StandInTool tool("adb");
    const std::string bulk(300'000, 'x');
    tool.otherwise(
        { .out = bulk, .chunks = { { .text = "\nverdict" }, { .text = "failed", .toStderr = true } } });
    for (int round = 0; round < 5; ++round) {
        const ProcessResult result = runTool(tool, {}, 5, 1 << 20);
        EXPECT_EQ(result.stdOut, bulk + "\nverdict");
        EXPECT_EQ(result.stdErr, "failed");
    }
}

TEST(ProcessRunnerTest, StartFailuresAreResultsAndNeverCallOnStart)
{
    StandInTool tool("adb");
    const std::string plainFile = tool.folder() + "/not-executable";
    std::ofstream(plainFile) << "data";
    ::chmod(plainFile.c_str(), 0644);
    struct Case {
        std::string executable;
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        { tool.folder() + "/missing-adb", {}, "Could not start missing-adb: No such file or directory" },
        { plainFile, {}, "Could not start not-executable: Permission denied" },
        { tool.folder(), {},
            "Could not start " + std::filesystem::path(tool.folder()).filename().string() + ": " },
        { tool.path(), { std::string("a\0b", 3) }, "Could not start adb: Invalid argument" },
    };
    for (const Case& c : cases) {
        bool started = false;
        const ProcessResult result = ProcessRunner::runBlocking(c.executable, c.arguments,
            ProcessRunner::safeEnvironment(std::nullopt), 5, ProcessRunner::kDefaultOutputLimit,
            [&](pid_t) { started = true; });
        EXPECT_EQ(result.exitCode, -1) << c.executable;
        EXPECT_EQ(result.stdOut, "");
        EXPECT_TRUE(result.stdErr.starts_with(c.message)) << result.stdErr;
        EXPECT_FALSE(result.timedOut);
        EXPECT_FALSE(started) << c.executable;
    }
    EXPECT_TRUE(tool.calls().empty());
}

TEST(ProcessRunnerTest, OnStartGetsTheRunningChildOnTheCallingThread)
{
    StandInTool tool("adb");
    tool.otherwise({ .delay = 0.2 });
    int calls = 0;
    bool alive = false;
    std::thread::id thread;
    const ProcessResult result = ProcessRunner::runBlocking(tool.path(), {},
        ProcessRunner::safeEnvironment(std::nullopt), 5, ProcessRunner::kDefaultOutputLimit, [&](pid_t pid) {
            ++calls;
            alive = pid > 0 && ::kill(pid, 0) == 0;
            thread = std::this_thread::get_id();
        });
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(alive);
    EXPECT_EQ(thread, std::this_thread::get_id());
    EXPECT_EQ(result.exitCode, 0);
}

TEST(ProcessRunnerTest, ConcurrentRunsLeaveNoDescriptorAndNoZombie)
{
    StandInTool adb("adb");
    adb.onPrefix({ "echo" }, { .out = "pong", .err = "note" });
    adb.on({ "start-server" }, { .backgroundChildSeconds = 1 });
    const std::size_t before = openDescriptors();

    std::atomic<int> good = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 5; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const bool server = i == 0;
                const std::vector<std::string> arguments = server
                    ? std::vector<std::string> { "start-server" }
                    : std::vector<std::string> { "echo", std::to_string(t), std::to_string(i) };
                const ProcessResult result = runTool(adb, arguments);
                if (result.exitCode == 0 && (server || (result.stdOut == "pong" && result.stdErr == "note")))
                    ++good;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(good, 50);
    EXPECT_EQ(adb.calls().size(), 50u);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_FALSE(hasZombieChild());
}

TEST(ProcessRunnerTest, EnvironmentHoldsOnlyTheAllowedVariables)
{
    const Environment own = { { "HOME", "/home/ana" }, { "USER", "ana" }, { "LOGNAME", "ana" },
        { "TMPDIR", "/tmp/ana" }, { "LANG", "pt_PT.UTF-8" }, { "DISPLAY", ":0" },
        { "WAYLAND_DISPLAY", "wayland-0" }, { "XDG_RUNTIME_DIR", "/run/user/1000" },
        { "XAUTHORITY", "/home/ana/.Xauthority" }, { "PATH", "/home/ana/bin:/usr/bin" },
        { "LD_PRELOAD", "/tmp/evil.so" }, { "ANDROID_SERIAL", "R58M" }, { "SHELL", "/bin/bash" } };
    Environment expected = own;
    expected.erase("LD_PRELOAD");
    expected.erase("ANDROID_SERIAL");
    expected.erase("SHELL");
    expected["PATH"] = "/usr/local/bin:/usr/bin:/bin";
    EXPECT_EQ(ProcessRunner::safeEnvironment(std::nullopt, own), expected);
    expected["ADB"] = "/usr/lib/android-sdk/platform-tools/adb";
    EXPECT_EQ(ProcessRunner::safeEnvironment("/usr/lib/android-sdk/platform-tools/adb", own), expected);
    EXPECT_EQ(ProcessRunner::safeEnvironment(std::nullopt, { { "PATH", "/x" } }),
        (Environment { { "PATH", "/usr/local/bin:/usr/bin:/bin" } }));
}

TEST(ProcessRunnerTest, ToolSeesExactlyTheGivenEnvironment)
{
    StandInTool adb("adb");
    adb.otherwise({ .printEnvironment = true });
    ::setenv("TESSALY_TEST_SECRET", "1", 1);
    const Environment environment = ProcessRunner::safeEnvironment("/usr/bin/adb");
    ::unsetenv("TESSALY_TEST_SECRET");

    const ProcessResult result = ProcessRunner::runBlocking(adb.path(), {}, environment, 5);

    std::set<std::string> lines;
    std::istringstream stream(result.stdOut);
    for (std::string line; std::getline(stream, line);)
        lines.insert(line);
    std::set<std::string> expected;
    for (const auto& [name, value] : environment)
        expected.insert(name + "=" + value);
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(environment.count("TESSALY_TEST_SECRET"), 0u);
    EXPECT_EQ(environment.at("ADB"), "/usr/bin/adb");
}

QCoro::Task<std::pair<ProcessResult, QThread*>> runAndNoteThread(std::string executable, double delay)
{
    std::vector<std::string> arguments = { "wait", std::to_string(delay) };
    ProcessResult result = co_await ProcessRunner::run(
        std::move(executable), std::move(arguments), ProcessRunner::safeEnvironment(std::nullopt), 5);
    co_return std::pair { result, QThread::currentThread() };
}

QCoro::Task<std::vector<std::pair<ProcessResult, QThread*>>> runSeveral(std::string executable, int count)
{
    std::vector<QCoro::Task<std::pair<ProcessResult, QThread*>>> tasks;
    for (int i = 0; i < count; ++i)
        tasks.push_back(runAndNoteThread(executable, 0.5));
    std::vector<std::pair<ProcessResult, QThread*>> results;
    for (auto& task : tasks)
        results.push_back(co_await task);
    co_return results;
}

TEST(ProcessRunnerTest, RunResumesOnTheCallersThreadAndRunsInParallel)
{
    StandInTool adb("adb");
    adb.onPrefix({ "wait" }, { .out = "done", .delay = 0.5 });
    const auto start = Clock::now();

    const auto results = QCoro::waitFor(runSeveral(adb.path(), 8));

    // Eight half-second runs: in parallel, not two at a time on a two-core machine's global pool.
    EXPECT_LT(secondsSince(start), 1.9);
    ASSERT_EQ(results.size(), 8u);
    for (const auto& [result, thread] : results) {
        EXPECT_EQ(result.stdOut, "done");
        EXPECT_EQ(thread, QCoreApplication::instance()->thread());
    }
}

} // namespace
} // namespace tessaly
