#include "mirroring/ScrcpyRunner.h"

#include <mutex>

#include <pthread.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include "support/StandInTool.h"

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

std::error_code start(ScrcpyRunner& runner, const StandInTool& tool, Recorder& recorder,
    const Lines& arguments = {}, const Environment& environment = kEnvironment)
{
    return runner.start(tool.path(), arguments, environment, recorder.onLine(), recorder.onExit());
}

TEST(ScrcpyRunnerTest, SplitsLinesAcrossChunksAndKeepsTheUnfinishedTail)
{
    StandInTool scrcpy("scrcpy");
    scrcpy.on({ "--print-fps" },
        { .exitCode = 3,
            .chunks = { { .text = "INFO: first\r\n" },
                { .text = "\rsecond\n", .toStderr = true, .delayBefore = 0.05 },
                { .text = "third\n\nfifth\n", .delayBefore = 0.05 },
                { .text = "sixth is ", .delayBefore = 0.05 },
                { .text = "split\nbad \xff byte\n", .delayBefore = 0.1 },
                { .text = "last line without feed", .delayBefore = 0.05 } } });
    ScrcpyRunner runner;
    Recorder recorder;

    ASSERT_FALSE(start(runner, scrcpy, recorder, { "--print-fps" }));
    ASSERT_TRUE(recorder.waitForExits(1));

    EXPECT_EQ(recorder.lines,
        (Lines { "INFO: first", "second", "third", "", "fifth", "sixth is split", "bad \xEF\xBF\xBD byte" }));
    EXPECT_TRUE(recorder.linesOnReaderThread);
    EXPECT_TRUE(recorder.exitsOnGuiThread);
    EXPECT_EQ(recorder.exits[0].status, 3);
    EXPECT_FALSE(recorder.exits[0].stoppedByUser);
    EXPECT_EQ(recorder.exits[0].output,
        "INFO: first\r\n\rsecond\nthird\n\nfifth\nsixth is split\nbad \xEF\xBF\xBD byte\nlast line without "
        "feed");
    EXPECT_EQ(runner.output(), recorder.exits[0].output);
    EXPECT_FALSE(runner.isRunning());
    QTest::qWait(100);
    EXPECT_EQ(recorder.exits.size(), 1u);
}

TEST(ScrcpyRunnerTest, LongOutputKeepsTheLast64KiB)
{
    StandInTool scrcpy("scrcpy");
    scrcpy.otherwise({ .chunks = {
                           { .text = std::string(63, 'x') + "\n", .repeat = 2048 }, // 128 KiB of lines
                           { .text = std::string(4096, 'y'), .repeat = 64 }, // 256 KiB without a line feed
                           { .text = "\nEND\n" },
                       } });
    ScrcpyRunner runner;
    Recorder recorder;

    ASSERT_FALSE(start(runner, scrcpy, recorder));
    ASSERT_TRUE(recorder.waitForExits(1));
    EXPECT_TRUE(recorder.exits[0].output == std::string(65536 - 5, 'y') + "\nEND\n");
    ASSERT_EQ(recorder.lines.size(), 2050u);
    EXPECT_EQ(recorder.lines[2047], std::string(63, 'x'));
    // The endless line reaches the handler cut to its bounded tail.
    EXPECT_TRUE(recorder.lines[2048] == std::string(65536, 'y'));
    EXPECT_EQ(recorder.lines[2049], "END");
}

TEST(ScrcpyRunnerTest, GrandchildHoldingTheTerminalDoesNotKeepTheRunAlive)
{
    StandInTool scrcpy("scrcpy");
    scrcpy.otherwise({ .out = "started server\n", .backgroundChildSeconds = 10, .printEnvironment = true });
    ScrcpyRunner runner;
    Recorder recorder;

    ASSERT_FALSE(start(runner, scrcpy, recorder, {}, { { "PATH", "/usr/bin" }, { "ADB", "/usr/bin/adb" } }));
    ASSERT_TRUE(recorder.waitForExits(1, 3000));
    // The tool gets exactly the given environment.
    EXPECT_EQ(recorder.lines, (Lines { "started server", "ADB=/usr/bin/adb", "PATH=/usr/bin" }));
    EXPECT_EQ(recorder.exits[0].status, 0);
}

TEST(ScrcpyRunnerTest, StartWhileRunningLeavesTheRunAlone)
{
    StandInTool scrcpy("scrcpy");
    scrcpy.otherwise({ .out = "ready\n", .delay = 30 });
    ScrcpyRunner runner;
    Recorder first, second;

    ASSERT_FALSE(start(runner, scrcpy, first, { "one" }));
    ASSERT_TRUE(first.waitForLine("ready"));
    EXPECT_FALSE(runner.start("/nonexistent/scrcpy", {}, kEnvironment, second.onLine(), second.onExit()));
    EXPECT_FALSE(start(runner, scrcpy, second, { "two" }));
    EXPECT_TRUE(runner.isRunning());

    runner.stopAndWait();
    ASSERT_TRUE(first.waitForExits(1));
    EXPECT_EQ(first.exits[0].status, SIGINT);
    EXPECT_TRUE(first.exits[0].stoppedByUser);
    QTest::qWait(100);
    EXPECT_TRUE(second.exits.empty());
    EXPECT_EQ(scrcpy.calls(), (std::vector<Lines> { { "one" } }));
}

TEST(ScrcpyRunnerTest, StopWhileIdleChangesNothing)
{
    StandInTool scrcpy("scrcpy");
    ScrcpyRunner runner;
    Recorder recorder;
    runner.stop();
    runner.stopAndWait();

    ASSERT_FALSE(start(runner, scrcpy, recorder));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !runner.isRunning(); }, 5000));
    runner.stop();
    ASSERT_TRUE(recorder.waitForExits(1));
    EXPECT_FALSE(recorder.exits[0].stoppedByUser);
}

TEST(ScrcpyRunnerTest, ToolIgnoringSigintIsKilledAfterStop)
{
    StandInTool scrcpy("scrcpy");
    scrcpy.otherwise({ .out = "ready\n", .delay = 30, .ignoreSigint = true });
    ScrcpyRunner runner({ .killAfterStop = 0.5 });
    Recorder recorder;

    ASSERT_FALSE(start(runner, scrcpy, recorder));
    ASSERT_TRUE(recorder.waitForLine("ready"));
    runner.stop();
    QTest::qWait(150);
    EXPECT_TRUE(runner.isRunning());
    ASSERT_TRUE(recorder.waitForExits(1, 3000));
    EXPECT_EQ(recorder.exits[0].status, SIGKILL);
    EXPECT_TRUE(recorder.exits[0].stoppedByUser);
}

TEST(ScrcpyRunnerTest, StopAndWaitReturnsOnceTheToolHasEnded)
{
    StandInTool scrcpy("scrcpy");
    scrcpy.on({ "stubborn" }, { .out = "ready\n", .delay = 30, .ignoreSigint = true });
    scrcpy.on({ "polite" }, { .out = "ready\n", .delay = 30 });
    ScrcpyRunner runner({ .graceBeforeKill = 0.3 });

    for (const auto& [argument, status] :
        { std::pair { "stubborn", SIGKILL }, std::pair { "polite", SIGINT } }) {
        Recorder recorder;
        ASSERT_FALSE(start(runner, scrcpy, recorder, { argument }));
        ASSERT_TRUE(recorder.waitForLine("ready"));
        runner.stopAndWait();
        EXPECT_FALSE(runner.isRunning()) << argument;
        ASSERT_TRUE(recorder.waitForExits(1)) << argument;
        EXPECT_EQ(recorder.exits[0].status, status) << argument;
        EXPECT_TRUE(recorder.exits[0].stoppedByUser) << argument;
    }
}

TEST(ScrcpyRunnerTest, LaunchFailureReportsAnErrorAndNoExit)
{
    StandInTool scrcpy("scrcpy");
    scrcpy.otherwise({ .out = "earlier run\n" });
    ScrcpyRunner runner;
    Recorder earlier, failed;
    ASSERT_FALSE(start(runner, scrcpy, earlier));
    ASSERT_TRUE(earlier.waitForExits(1));

    const auto error
        = runner.start(scrcpy.folder() + "/missing", {}, kEnvironment, failed.onLine(), failed.onExit());
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(runner.isRunning());
    EXPECT_EQ(runner.output(), "earlier run\n");
    QTest::qWait(100);
    EXPECT_TRUE(failed.exits.empty());
}

TEST(ScrcpyRunnerTest, ExitHandlerMayStartTheNextRun)
{
    StandInTool scrcpy("scrcpy");
    scrcpy.on({ "tuned" }, { .out = "encoder refused\n", .exitCode = 1 });
    scrcpy.on({ "safe" }, { .out = "ok\n" });
    ScrcpyRunner runner;
    Recorder retry;
    Lines outputs;
    const auto onExit = [&](std::int32_t, const std::string& output, bool) {
        outputs.push_back(output);
        if (outputs.size() == 1) {
            EXPECT_FALSE(runner.start(scrcpy.path(), { "safe" }, kEnvironment, {}, retry.onExit()));
        }
    };

    ASSERT_FALSE(runner.start(scrcpy.path(), { "tuned" }, kEnvironment, {}, onExit));
    ASSERT_TRUE(retry.waitForExits(1));
    EXPECT_EQ(outputs, Lines { "encoder refused\n" });
    EXPECT_EQ(retry.exits[0].output, "ok\n");
}

TEST(ScrcpyRunnerTest, NoExitReportOnceTheRunnerIsGone)
{
    StandInTool scrcpy("scrcpy");
    scrcpy.on({ "long" }, { .out = "ready\n", .delay = 30 });
    Recorder quick, running;
    {
        ScrcpyRunner runner;
        ASSERT_FALSE(start(runner, scrcpy, quick, { "quick" }));
        // The report is posted, but this thread takes no events before the runner goes.
        for (int i = 0; i < 500 && runner.isRunning(); ++i)
            QThread::msleep(10);
        ASSERT_FALSE(runner.isRunning());
        QThread::msleep(100);
    }
    {
        ScrcpyRunner runner;
        ASSERT_FALSE(start(runner, scrcpy, running, { "long" }));
        ASSERT_TRUE(running.waitForLine("ready"));
    }
    QTest::qWait(100);
    EXPECT_TRUE(quick.exits.empty());
    EXPECT_TRUE(running.exits.empty());
}

} // namespace
} // namespace tessaly
