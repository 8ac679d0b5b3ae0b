#include "tools/ProcessRunner.h"
#include "tools/StoppableRun.h"

#include "support/StandInTool.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include <QCoreApplication>
#include <QCoroTask>
#include <QCoroTimer>
#include <QThread>

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

TEST(OutputBufferTest, KeepsTheMostRecentBytes)
{
    struct Case {
        std::size_t limit;
        std::vector<std::string> appends;
        std::string kept;
    };
    const std::vector<Case> cases
        = { { 5, {}, "" }, { 5, { "abc", "de" }, "abcde" }, { 5, { "abc", "def" }, "bcdef" },
              { 5, { "abcdefgh" }, "defgh" }, { 5, { "ab", "cd", "ef", "gh", "ij", "k" }, "ghijk" },
              { 5, { "abcd", "efghijklmnop", "q" }, "mnopq" }, { 0, { "abc" }, "" } };
    for (const Case& c : cases) {
        OutputBuffer buffer(c.limit);
        for (const std::string& piece : c.appends)
            buffer.append(piece);
        EXPECT_EQ(buffer.text(), c.kept) << c.kept;
        EXPECT_EQ(buffer.text(), c.kept) << "reading does not consume";
    }
}

TEST(OutputBufferTest, ConcurrentAppendsKeepWholeRecentPieces)
{
    OutputBuffer buffer(4096);
    std::vector<std::thread> writers;
    for (char letter : std::string("abcd")) {
        writers.emplace_back([&buffer, letter] {
            for (int i = 0; i < 2000; ++i)
                buffer.append(std::string(64, letter));
        });
    }
    std::thread reader([&buffer] {
        for (int i = 0; i < 200; ++i)
            EXPECT_LE(buffer.text().size(), 4096u);
    });
    for (std::thread& writer : writers)
        writer.join();
    reader.join();
    const std::string kept = buffer.text();
    ASSERT_EQ(kept.size(), 4096u);
    // Appends never interleave inside one another: the tail is made of whole 64-byte runs.
    for (std::size_t run = 0; run < kept.size(); run += 64)
        EXPECT_EQ(kept.substr(run, 64), std::string(64, kept[run])) << run;
}

TEST(OutputBufferTest, DecodingReplacesEachInvalidSequence)
{
    const std::string r = "\xEF\xBF\xBD";
    // A cut in front of a character, one cut off at the end, an overlong encoding, a surrogate,
    // beyond U+10FFFF, bytes that never begin a character.
    const std::vector<std::pair<std::string, std::string>> cases
        = { { "é ✓ 😀", "é ✓ 😀" }, { "\xA9zz", r + "zz" }, { "ab\xE2\x9C", "ab" + r }, { "\xC0\x80", r + r },
              { "\xED\xA0\x80", r + r + r }, { "\xF4\x90\x80\x80", r + r + r + r },
              { "\xF5x\xFF", r + "x" + r }, { std::string("a\0b", 3), std::string("a\0b", 3) } };
    for (const auto& [bytes, text] : cases) {
        OutputBuffer buffer(64);
        buffer.append(bytes);
        EXPECT_EQ(buffer.text(), text);
    }
}

TEST(OutputBufferTest, TrimmingRemovesWhitespaceAndLineBreaksAtBothEnds)
{
    const std::vector<std::pair<std::string, std::string>> cases = { { " \t\r\n ", "" },
        { "\r\nList of devices attached\nR58M\tdevice\r\n\n", "List of devices attached\nR58M\tdevice" },
        { "  inner  space  ", "inner  space" }, { "\xC2\xA0nbsp\xE2\x80\xA8", "nbsp" }, // U+00A0 and U+2028
        { "x\xE2\x9C", "x\xE2\x9C" }, { "\xA0x", "\xA0x" } }; // invalid bytes are not white space
    for (const auto& [text, trimmed] : cases)
        EXPECT_EQ(ProcessRunner::trimWhitespace(text), trimmed) << text;
}

ProcessResult runTool(const StandInTool& tool, const std::vector<std::string>& arguments, double timeout = 5,
    std::size_t limit = ProcessRunner::kDefaultOutputLimit,
    const std::function<void(const RunHandle&)>& onStart = {}, double grace = ProcessRunner::kGraceSeconds)
{
    return ProcessRunner::runBlocking(
        tool.path(), arguments, ProcessRunner::safeEnvironment(std::nullopt), timeout, limit, onStart, grace);
}

TEST(ProcessRunnerTest, StatusTrimmedStreamsAndArgumentsUnchangedWithoutAShell)
{
    struct Case {
        StandInTool::Answer answer;
        int exitCode;
        std::string out, err, combined;
    };
    const std::vector<Case> cases = {
        { { .out = "\n  List of\nR58M\tdevice \n\n", .err = " warn\r\n", .exitCode = 3 }, 3,
            "List of\nR58M\tdevice", "warn", "List of\nR58M\tdevice\nwarn" },
        { {}, 0, "", "", "" },
        { { .out = "crash", .raiseSignal = SIGSEGV }, SIGSEGV, "crash", "", "crash" },
    };
    const std::vector<std::string> arguments
        = { "shell", "ls -la /sdcard/My Files", "$HOME", "a;b|c&&d", "*", "", "line\nbreak", "'\"", "é✓" };
    StandInTool adb("adb");
    for (const Case& c : cases) {
        adb.otherwise(c.answer);
        const ProcessResult result = runTool(adb, arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.combined;
        EXPECT_EQ(result.stdOut, c.out);
        EXPECT_EQ(result.stdErr, c.err);
        EXPECT_EQ(result.combinedOutput(), c.combined);
        EXPECT_FALSE(result.timedOut);
    }
    EXPECT_EQ(adb.calls(), std::vector<std::vector<std::string>>(cases.size(), arguments));
}

TEST(ProcessRunnerTest, KeepsTheTailOfALongAnswerAndWhatWasWrittenJustBeforeExit)
{
    std::string text;
    for (int line = 0; text.size() < 200'000; ++line)
        text += "line " + std::to_string(line) + "\n";
    StandInTool tool("adb");
    tool.otherwise({ .out = text, .err = std::string(100'000, 'e') + "tail" });
    EXPECT_EQ(
        runTool(tool, {}, 5, 1000).stdOut, ProcessRunner::trimWhitespace(text.substr(text.size() - 1000)));
    // More than a pipe holds, the tool gone right after its last write; standard error is held
    // to 65,536 bytes whatever the caller allows for standard output.
    for (int round = 0; round < 5; ++round) {
        const ProcessResult wide = runTool(tool, {}, 5, ProcessRunner::kListingOutputLimit);
        EXPECT_EQ(wide.stdOut, ProcessRunner::trimWhitespace(text));
        EXPECT_EQ(wide.stdErr, std::string(65532, 'e') + "tail");
    }
}

// Pictures pass through untouched: NUL, CR LF, bytes that are no UTF-8 and white space at
// either end. Past the limit the tool is stopped instead of read to its end.
TEST(ProcessRunnerTest, RawRunKeepsBytesExactlyAndStopsAToolPastTheLimit)
{
    std::string binary(" \r\n\x89PNG\r\n\x1a\n", 11);
    for (int i = 0; i < 300'000; ++i)
        binary.push_back(static_cast<char>(i * 7 % 256));
    binary += "\n\t ";
    StandInTool tool("adb");
    tool.otherwise({ .out = binary, .err = "note" });
    const ProcessRunner::RawRun exact = ProcessRunner::runBlockingRaw(tool.path(), {}, {}, 5, binary.size());
    EXPECT_EQ(std::string(exact.bytes.begin(), exact.bytes.end()), binary);
    EXPECT_FALSE(exact.overflowed);
    EXPECT_EQ(exact.result.stdErr, "note");
    EXPECT_TRUE(exact.result.stdOut.empty());

    tool.otherwise({ .out = binary, .delay = 30 });
    const auto start = Clock::now();
    const ProcessRunner::RawRun over = ProcessRunner::runBlockingRaw(tool.path(), {}, {}, 20, 1000);
    EXPECT_TRUE(over.overflowed);
    EXPECT_FALSE(over.result.timedOut);
    EXPECT_EQ(std::string(over.bytes.begin(), over.bytes.end()), binary.substr(0, 1000));
    EXPECT_LT(secondsSince(start), 5);
}

TEST(ProcessRunnerTest, TimeLimitEndsTheToolWithSigtermThenSigkill)
{
    // Ending on SIGTERM, or ignoring it and killed after the grace (here 0.4 s).
    for (const auto& [ignoreSigterm, exitCode, least, most] :
        { std::tuple { false, SIGTERM, 0.3, 1.5 }, std::tuple { true, SIGKILL, 0.7, 2.5 } }) {
        StandInTool tool("adb");
        tool.otherwise({ .out = "waiting", .delay = 30, .ignoreSigterm = ignoreSigterm });
        const auto start = Clock::now();
        const ProcessResult result = runTool(tool, {}, 0.3, ProcessRunner::kDefaultOutputLimit, {}, 0.4);
        EXPECT_TRUE(result.timedOut);
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_EQ(result.stdOut, "waiting");
        EXPECT_TRUE(secondsSince(start) > least && secondsSince(start) < most) << secondsSince(start);
    }
}

TEST(ProcessRunnerTest, StartFailuresAreResultsAndOnlyARunningChildReachesOnStart)
{
    StandInTool tool("adb");
    const std::string plainFile = tool.folder() + "/not-executable";
    std::ofstream(plainFile) << "data";
    ::chmod(plainFile.c_str(), 0644);
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> cases = {
        { tool.folder() + "/missing-adb", {}, "Could not start missing-adb: No such file or directory" },
        { plainFile, {}, "Could not start not-executable: Permission denied" },
        { tool.path(), { std::string("a\0b", 3) }, "Could not start adb: Invalid argument" },
    };
    int started = 0;
    for (const auto& [executable, arguments, message] : cases) {
        const ProcessResult result
            = ProcessRunner::runBlocking(executable, arguments, ProcessRunner::safeEnvironment(std::nullopt),
                5, ProcessRunner::kDefaultOutputLimit, [&](const RunHandle&) { ++started; });
        EXPECT_EQ(result.exitCode, -1) << executable;
        EXPECT_EQ(result.stdOut, "");
        EXPECT_TRUE(result.stdErr.starts_with(message)) << result.stdErr;
        EXPECT_FALSE(result.timedOut);
    }
    EXPECT_EQ(started, 0);
    EXPECT_TRUE(tool.calls().empty());
    // A started child reaches onStart once, still running, on the calling thread.
    tool.otherwise({ .delay = 0.2 });
    bool aliveOnThisThread = false;
    RunHandle kept;
    runTool(tool, {}, 5, ProcessRunner::kDefaultOutputLimit,
        [&, caller = std::this_thread::get_id()](const RunHandle& handle) {
            ++started;
            aliveOnThisThread = handle.signal(0) && std::this_thread::get_id() == caller;
            kept = handle;
        });
    EXPECT_EQ(started, 1);
    EXPECT_TRUE(aliveOnThisThread);
    // Once the run has ended its handle reaches nothing, not even a process that took over its number.
    EXPECT_FALSE(kept.signal(0));
    EXPECT_FALSE(kept.terminate());
}

// Each thread starts with what adb start-server does: leave a server behind that holds the
// output open. The run ends with the tool, not with its background child.
TEST(ProcessRunnerTest, ConcurrentRunsEndWithTheToolAndLeaveNoDescriptorAndNoZombie)
{
    const auto openDescriptors = [] {
        const std::filesystem::directory_iterator entries("/proc/self/fd");
        return std::distance(begin(entries), end(entries));
    };
    StandInTool adb("adb");
    adb.on({ "echo" }, { .out = "pong", .err = "note" });
    adb.on({ "start-server" }, { .out = "* daemon started successfully", .backgroundChildSeconds = 5 });
    const auto before = openDescriptors();
    std::atomic<int> good = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 5; ++t) {
        threads.emplace_back([&] {
            const auto start = Clock::now();
            const ProcessResult server = runTool(adb, { "start-server" }, 10);
            good += server.stdOut == "* daemon started successfully" && !server.timedOut
                && secondsSince(start) < 2;
            for (int i = 1; i < 10; ++i) {
                const ProcessResult result = runTool(adb, { "echo" });
                good += result.stdOut == "pong" && result.stdErr == "note";
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(good, 50);
    EXPECT_EQ(adb.calls().size(), 50u);
    EXPECT_EQ(openDescriptors(), before);
    siginfo_t zombie {};
    EXPECT_FALSE(::waitid(P_ALL, 0, &zombie, WEXITED | WNOHANG | WNOWAIT) == 0 && zombie.si_pid != 0);
}

TEST(ProcessRunnerTest, StandardInputIsWrittenWhileTheOutputIsReadThenClosed)
{
    std::string big;
    for (int line = 0; big.size() < ProcessRunner::kInputLimit - 20; ++line)
        big += "input line " + std::to_string(line) + "\n";
    const std::string output(200'000, 'o');
    // Both ways more than a pipe holds (the tool writes all before it reads); then tools that never
    // read, running on or gone at once: no hang, and no SIGPIPE here.
    const std::tuple<std::optional<std::string>, StandInTool::Answer, std::vector<std::string>> cases[] = {
        { big, { .out = output, .readsInput = true }, { big } },
        { std::nullopt, { .out = output, .readsInput = true }, { "" } },
        { "", { .out = output, .readsInput = true }, { "" } },
        { big, { .out = output, .delay = 0.3 }, {} },
        { big, { .out = output }, {} },
    };
    for (const auto& [input, answer, read] : cases) {
        for (int round = 0; round < (answer.delay > 0 ? 1 : 5); ++round) {
            StandInTool tool("adb");
            tool.otherwise(answer);
            const auto start = Clock::now();
            const ProcessResult result
                = ProcessRunner::runBlocking(tool.path(), {}, {}, 5, ProcessRunner::kListingOutputLimit, {},
                    ProcessRunner::kGraceSeconds, ProcessRunner::Trim::ends, input);
            EXPECT_TRUE(result.exitCode == 0 && !result.timedOut && result.stdOut.size() == output.size());
            EXPECT_LT(secondsSince(start), 2.5);
            EXPECT_EQ(tool.inputs(), read);
        }
    }
    StandInTool tool("adb");
    const std::string tooLong(ProcessRunner::kInputLimit + 1, 'x');
    EXPECT_EQ(
        ProcessRunner::runBlocking(tool.path(), {}, {}, 5, 100, {}, 1, ProcessRunner::Trim::ends, tooLong)
            .exitCode,
        -1);
    EXPECT_TRUE(tool.calls().empty());
}

TEST(ProcessRunnerTest, SafeEnvironmentKeepsOnlyTheAllowedVariables)
{
    const Environment own = { { "HOME", "/home/ana" }, { "USER", "ana" }, { "LOGNAME", "ana" },
        { "TMPDIR", "/tmp/ana" }, { "LANG", "pt_PT.UTF-8" }, { "DISPLAY", ":0" },
        { "WAYLAND_DISPLAY", "wayland-0" }, { "XDG_RUNTIME_DIR", "/run/user/1000" },
        { "XAUTHORITY", "/home/ana/.Xauthority" }, { "PATH", "/home/ana/bin:/usr/bin" },
        { "LD_PRELOAD", "/tmp/evil.so" }, { "ANDROID_SERIAL", "R58M" }, { "SHELL", "/bin/bash" } };
    Environment expected = own;
    for (const char* name : { "LD_PRELOAD", "ANDROID_SERIAL", "SHELL" })
        expected.erase(name);
    expected["PATH"] = "/usr/local/bin:/usr/bin:/bin";
    expected["ADB"] = "/usr/bin/adb";
    // That the tool gets exactly these, nothing of the test's own environment, ADBTest checks.
    EXPECT_EQ(ProcessRunner::safeEnvironment("/usr/bin/adb", own), expected);
}

QCoro::Task<std::pair<ProcessResult, QThread*>> runAndNoteThread(std::string executable)
{
    ProcessResult result = co_await ProcessRunner::run(
        std::move(executable), {}, ProcessRunner::safeEnvironment(std::nullopt), 5);
    co_return std::pair { result, QThread::currentThread() };
}

TEST(ProcessRunnerTest, RunResumesOnTheCallersThreadAndRunsInParallel)
{
    StandInTool adb("adb");
    adb.otherwise({ .out = "done", .delay = 0.5 });
    const auto start = Clock::now();
    // Eight half-second runs: in parallel, not two at a time on a two-core machine's global pool.
    std::vector<QCoro::Task<std::pair<ProcessResult, QThread*>>> runs;
    for (int i = 0; i < 8; ++i)
        runs.push_back(runAndNoteThread(adb.path()));
    for (auto& run : runs) {
        const auto [result, thread] = QCoro::waitFor(std::move(run));
        EXPECT_EQ(result.stdOut, "done");
        EXPECT_EQ(thread, QCoreApplication::instance()->thread());
    }
    EXPECT_LT(secondsSince(start), 1.9);
}

TEST(ProcessRunnerTest, StoppableRunStopEndsTheRunUnderWay)
{
    StandInTool adb("adb");
    adb.otherwise({ .out = "late", .delay = 20 });
    StoppableRun runs;
    QCoro::Task<ProcessResult> running = runs.run(adb.path(), { "pair" }, {}, 30);
    // Stopped once the tool runs: the signal must reach the process, not only a flag.
    while (adb.calls().empty())
        QCoro::waitFor(QCoro::sleepFor(std::chrono::milliseconds(10)));
    const auto stoppedAt = Clock::now();
    runs.stop();
    EXPECT_EQ(QCoro::waitFor(std::move(running)).stdErr, "Stopped.");
    EXPECT_LT(secondsSince(stoppedAt), 5);
}

} // namespace
} // namespace tessaly
