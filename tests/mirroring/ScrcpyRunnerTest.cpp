#include "mirroring/ScrcpyRunner.h"

#include "support/StandInTool.h"

#include <mutex>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tessaly {
namespace {

using test::StandInTool;
using Lines = std::vector<std::string>;

struct Exit {
    std::int32_t status = 0;
    std::string output;
    bool stoppedByUser = false;
};

// Collects what one runner reports: lines on the reader thread, exits on the GUI thread.
struct Recorder {
    std::mutex lock;
    Lines lines;
    bool linesOnReaderThread = true;
    std::vector<Exit> exits;
    bool exitsOnGuiThread = true;
    ScrcpyRunner::LineHandler onLine()
    {
        return [this](const std::string& line) {
            char name[16] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            std::lock_guard guard(lock);
            lines.push_back(line);
            linesOnReaderThread
                = linesOnReaderThread && std::string_view(name) == "tessaly.scrcpy-"; // 15 bytes
        };
    }
    ScrcpyRunner::ExitHandler onExit()
    {
        return [this](std::int32_t status, const std::string& output, bool stopped) {
            exitsOnGuiThread = exitsOnGuiThread && QThread::currentThread() == qApp->thread();
            exits.push_back({ status, output, stopped });
        };
    }
    bool waitForExits(std::size_t count, int milliseconds = 5000)
    {
        return QTest::qWaitFor([&] { return exits.size() >= count; }, milliseconds);
    }
    bool waitForLine(const std::string& line)
    {
        return QTest::qWaitFor([&] {
            std::lock_guard guard(lock);
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        });
    }
};

const Environment kEnvironment { { "PATH", "/usr/bin:/bin" } };

class ScrcpyRunnerTest : public ::testing::Test {
protected:
    std::error_code start(ScrcpyRunner& on, Recorder& to, const Lines& arguments = {},
        const Environment& environment = kEnvironment)
    {
        return on.start(scrcpy.path(), arguments, environment, to.onLine(), to.onExit());
    }
    StandInTool scrcpy { "scrcpy" };
    Recorder recorder;
    ScrcpyRunner runner { ScrcpyRunner::StopTimes { .killAfterStop = 0.5, .graceBeforeKill = 0.3 } };
};

// The tool prints its environment first, then the chunks, and leaves a grandchild holding the terminal.
TEST_F(ScrcpyRunnerTest, SplitsLinesAcrossChunksKeepsTheUnfinishedTailAndEndsWithTheTool)
{
    scrcpy.on({ "--print-fps" },
        { .exitCode = 3,
            .chunks = { { .text = "INFO: first\r\n" },
                { .text = "\rsecond\n", .toStderr = true, .delayBefore = 0.05 },
                { .text = "third\n\nfifth\n", .delayBefore = 0.05 },
                { .text = "sixth is ", .delayBefore = 0.05 },
                { .text = "split\nbad \xff byte\n", .delayBefore = 0.1 },
                { .text = "last line without feed", .delayBefore = 0.05 } },
            .backgroundChildSeconds = 10,
            .printEnvironment = true });
    ASSERT_FALSE(
        start(runner, recorder, { "--print-fps" }, { { "PATH", "/usr/bin" }, { "ADB", "/usr/bin/adb" } }));
    ASSERT_TRUE(recorder.waitForExits(1, 3000));
    EXPECT_EQ(recorder.lines,
        (Lines { "ADB=/usr/bin/adb", "PATH=/usr/bin", "INFO: first", "second", "third", "", "fifth",
            "sixth is split", "bad \xEF\xBF\xBD byte" }));
    EXPECT_TRUE(recorder.linesOnReaderThread);
    EXPECT_TRUE(recorder.exitsOnGuiThread);
    EXPECT_EQ(recorder.exits[0].status, 3);
    EXPECT_FALSE(recorder.exits[0].stoppedByUser);
    EXPECT_EQ(recorder.exits[0].output,
        "ADB=/usr/bin/adb\nPATH=/usr/bin\nINFO: first\r\n\rsecond\nthird\n\nfifth\n"
        "sixth is split\nbad \xEF\xBF\xBD byte\nlast line without feed");
    EXPECT_EQ(runner.output(), recorder.exits[0].output);
    EXPECT_FALSE(runner.isRunning());
    QTest::qWait(100);
    EXPECT_EQ(recorder.exits.size(), 1u);
}

TEST_F(ScrcpyRunnerTest, LongOutputKeepsTheLast64KiB)
{
    scrcpy.otherwise({ .chunks = {
                           { .text = std::string(63, 'x') + "\n", .repeat = 2048 }, // 128 KiB of lines
                           { .text = std::string(4096, 'y'), .repeat = 64 }, // 256 KiB without a line feed
                           { .text = "\nEND\n" },
                       } });
    ASSERT_FALSE(start(runner, recorder));
    ASSERT_TRUE(recorder.waitForExits(1));
    EXPECT_TRUE(recorder.exits[0].output == std::string(65536 - 5, 'y') + "\nEND\n");
    ASSERT_EQ(recorder.lines.size(), 2050u);
    EXPECT_EQ(recorder.lines[2047], std::string(63, 'x'));
    // The endless line reaches the handler cut to its bounded tail.
    EXPECT_TRUE(recorder.lines[2048] == std::string(65536, 'y'));
    EXPECT_EQ(recorder.lines[2049], "END");
}

TEST_F(ScrcpyRunnerTest, StartWhileRunningChangesNothingAndStopEndsTheTool)
{
    scrcpy.on({ "stubborn" }, { .out = "ready\n", .delay = 30, .ignoreSigint = true });
    scrcpy.on({ "polite" }, { .out = "ready\n", .delay = 30 });
    // The tool, whether stop or stopAndWait ends it, and its status.
    for (const auto& [argument, wait, status] :
        { std::tuple { "stubborn", false, SIGKILL }, std::tuple { "polite", false, SIGINT },
            std::tuple { "stubborn", true, SIGKILL }, std::tuple { "polite", true, SIGINT } }) {
        Recorder first, second;
        ASSERT_FALSE(start(runner, first, { argument }));
        ASSERT_TRUE(first.waitForLine("ready"));
        EXPECT_FALSE(runner.start("/nonexistent/scrcpy", {}, kEnvironment, second.onLine(), second.onExit()));
        EXPECT_FALSE(start(runner, second, { "again" }));
        if (wait) {
            runner.stopAndWait();
            EXPECT_FALSE(runner.isRunning()) << argument;
        } else {
            runner.stop();
            QTest::qWait(150);
            EXPECT_EQ(runner.isRunning(), status == SIGKILL) << argument;
        }
        ASSERT_TRUE(first.waitForExits(1, 3000)) << argument;
        EXPECT_EQ(first.exits[0].status, status) << argument << wait;
        EXPECT_TRUE(first.exits[0].stoppedByUser);
        QTest::qWait(50);
        EXPECT_TRUE(second.exits.empty());
    }
    EXPECT_EQ(
        scrcpy.calls(), (std::vector<Lines> { { "stubborn" }, { "polite" }, { "stubborn" }, { "polite" } }));
}

TEST_F(ScrcpyRunnerTest, StopWhileIdleAndFailedLaunchChangeNothing)
{
    scrcpy.otherwise({ .out = "earlier run\n" });
    Recorder failed;
    runner.stop();
    runner.stopAndWait();
    ASSERT_FALSE(start(runner, recorder));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.isRunning(); }, 5000));
    runner.stop(); // the run has ended, its report not yet delivered
    ASSERT_TRUE(recorder.waitForExits(1));
    EXPECT_FALSE(recorder.exits[0].stoppedByUser);
    const auto error
        = runner.start(scrcpy.folder() + "/missing", {}, kEnvironment, failed.onLine(), failed.onExit());
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(runner.isRunning());
    EXPECT_EQ(runner.output(), "earlier run\n");
    QTest::qWait(100);
    EXPECT_TRUE(failed.exits.empty());
}

TEST_F(ScrcpyRunnerTest, ExitHandlerMayStartTheNextRun)
{
    scrcpy.on({ "tuned" }, { .out = "encoder refused\n", .exitCode = 1 });
    scrcpy.on({ "safe" }, { .out = "ok\n" });
    Lines outputs;
    const auto onExit = [&](std::int32_t, const std::string& output, bool) {
        outputs.push_back(output);
        if (outputs.size() == 1) {
            EXPECT_FALSE(runner.start(scrcpy.path(), { "safe" }, kEnvironment, {}, recorder.onExit()));
        }
    };
    ASSERT_FALSE(runner.start(scrcpy.path(), { "tuned" }, kEnvironment, {}, onExit));
    ASSERT_TRUE(recorder.waitForExits(1));
    EXPECT_EQ(outputs, Lines { "encoder refused\n" });
    EXPECT_EQ(recorder.exits[0].output, "ok\n");
}

TEST_F(ScrcpyRunnerTest, NoExitReportOnceTheRunnerIsGone)
{
    scrcpy.on({ "long" }, { .out = "ready\n", .delay = 30 });
    Recorder running;
    {
        ScrcpyRunner quick;
        ASSERT_FALSE(start(quick, recorder, { "quick" }));
        // The report is posted, but this thread takes no events before the runner goes.
        for (int i = 0; i < 500 && quick.isRunning(); ++i)
            QThread::msleep(10);
        ASSERT_FALSE(quick.isRunning());
        QThread::msleep(100);
    }
    {
        ScrcpyRunner longRun;
        ASSERT_FALSE(start(longRun, running, { "long" }));
        ASSERT_TRUE(running.waitForLine("ready"));
    }
    QTest::qWait(100);
    EXPECT_TRUE(recorder.exits.empty());
    EXPECT_TRUE(running.exits.empty());
}

// Leaves `spare` descriptors free under a lowered limit, then starts a runner and lets it go.
// Returns 0 when the start failed as "Too many open files".
int startWithoutDescriptors(int spare)
{
    ::alarm(5); // a runner that hangs ends by SIGALRM instead
    const rlimit limit { 64, 64 };
    ::setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<int> taken;
    for (int fd; (fd = ::dup(STDIN_FILENO)) >= 0;)
        taken.push_back(fd);
    for (int i = 0; i < spare && !taken.empty(); ++i, taken.pop_back())
        ::close(taken.back());
    std::error_code error;
    {
        ScrcpyRunner runner;
        error = runner.start("/bin/true", {}, kEnvironment, {}, {});
    }
    return error == std::errc::too_many_files_open ? 0 : 3;
}

// With one spare descriptor the exit reports get theirs but the output thread does not;
// with none neither does.
TEST(ScrcpyRunnerDeathTest, OutOfDescriptorsStartFailsAndTheRunnerStillEnds)
{
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' own checks open descriptors (a pipe to probe memory), so with none left
    // they report faults of their own; the plain build runs this.
    GTEST_SKIP() << "needs descriptors the sanitizer runtime would take";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const int spare : { 0, 1 })
        EXPECT_EXIT(::_exit(startWithoutDescriptors(spare)), ::testing::ExitedWithCode(0), "") << spare;
}

} // namespace
} // namespace tessaly
