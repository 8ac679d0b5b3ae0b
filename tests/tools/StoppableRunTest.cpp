#include <chrono>

#include <gtest/gtest.h>

#include <QCoroTask>
#include <QCoroTimer>

#include "support/StandInTool.h"
#include "tools/StoppableRun.h"

namespace tessaly {
namespace {

TEST(StoppableRun, StopEndsTheRunUnderWay)
{
    test::StandInTool adb("adb");
    adb.otherwise({ .out = "late", .delay = 20 });
    StoppableRun runs;
    QCoro::Task<ProcessResult> running = runs.run(adb.path(), { "pair" }, {}, 30);
    // Stopped once the tool runs: the signal must reach the process, not only a flag.
    while (adb.calls().empty())
        QCoro::waitFor(QCoro::sleepFor(std::chrono::milliseconds(10)));
    const auto stoppedAt = std::chrono::steady_clock::now();
    runs.stop();
    EXPECT_EQ(QCoro::waitFor(std::move(running)).stdErr, "Stopped.");
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::seconds(5));
}

} // namespace
} // namespace tessaly
