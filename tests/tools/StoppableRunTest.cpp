#include <chrono>

#include <gtest/gtest.h>

#include <QCoroTask>
#include <QCoroTimer>

#include "support/StandInTool.h"
#include "tools/StoppableRun.h"

namespace tessaly {
namespace {

using namespace std::chrono;

TEST(StoppableRun, StopEndsTheRunUnderWayAndEveryLaterOne)
{
    test::StandInTool adb("adb");
    adb.otherwise({ .out = "late", .delay = 20 });
    StoppableRun runs;
    QCoro::Task<ProcessResult> running = runs.run(adb.path(), { "pair" }, {}, 30);
    // The stop comes once the tool has started: it must reach the process, not only a flag.
    while (adb.calls().empty())
        QCoro::waitFor(QCoro::sleepFor(milliseconds(10)));
    const auto stoppedAt = steady_clock::now();
    runs.stop();
    const ProcessResult result = QCoro::waitFor(std::move(running));
    EXPECT_LT(steady_clock::now() - stoppedAt, seconds(5));
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_EQ(result.stdErr, "Stopped.");

    adb.clearCalls();
    EXPECT_EQ(QCoro::waitFor(runs.run(adb.path(), { "connect" }, {}, 30)).stdErr, "Stopped.");
    EXPECT_TRUE(adb.calls().empty());
}

} // namespace
} // namespace tessaly
