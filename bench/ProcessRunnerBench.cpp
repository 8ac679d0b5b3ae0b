// What the process runner costs over a bare spawn, and how much memory a flood of output
// takes on its way through a 64 KiB limit.

#include "tools/ProcessRunner.h"

#include "support/StandInTool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include <spawn.h>
#include <sys/wait.h>

#include <benchmark/benchmark.h>

namespace {

using namespace tessaly;

const char* const kTrue = "/bin/true";

void RunBlockingTrue(benchmark::State& state)
{
    const Environment environment = ProcessRunner::safeEnvironment(std::nullopt);
    for (auto _ : state) {
        const ProcessResult result = ProcessRunner::runBlocking(kTrue, {}, environment, 5);
        if (result.exitCode != 0)
            state.SkipWithError("true failed");
    }
}
BENCHMARK(RunBlockingTrue)->UseRealTime();

// The runner's environment as the NAME=VALUE array a bare posix_spawn takes.
struct SpawnEnvironment {
    explicit SpawnEnvironment(const Environment& environment)
    {
        for (const auto& [name, value] : environment)
            entries.push_back(name + "=" + value);
        for (std::string& entry : entries)
            pointers.push_back(entry.data());
        pointers.push_back(nullptr);
    }
    char** data() { return pointers.data(); }

    std::vector<std::string> entries;
    std::vector<char*> pointers;
};

void BareSpawnTrue(benchmark::State& state)
{
    SpawnEnvironment envp(ProcessRunner::safeEnvironment(std::nullopt));
    char* argv[] = { const_cast<char*>(kTrue), nullptr };
    for (auto _ : state) {
        pid_t pid = -1;
        int status = 0;
        if (::posix_spawn(&pid, kTrue, nullptr, nullptr, argv, envp.data()) != 0
            || ::waitpid(pid, &status, 0) != pid) {
            state.SkipWithError("spawn failed");
            break;
        }
    }
}
BENCHMARK(BareSpawnTrue)->UseRealTime();

// Both in turn, so a busy machine slows them alike: the medians give the runner's overhead.
void InterleavedRatio(benchmark::State& state)
{
    const Environment environment = ProcessRunner::safeEnvironment(std::nullopt);
    SpawnEnvironment envp(environment);
    char* argv[] = { const_cast<char*>(kTrue), nullptr };
    std::vector<double> ours;
    std::vector<double> bare;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        auto start = Clock::now();
        ProcessRunner::runBlocking(kTrue, {}, environment, 5);
        ours.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        start = Clock::now();
        pid_t pid = -1;
        int status = 0;
        if (::posix_spawn(&pid, kTrue, nullptr, nullptr, argv, envp.data()) == 0)
            ::waitpid(pid, &status, 0);
        bare.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    auto median = [](std::vector<double>& values) {
        std::nth_element(
            values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
        return values[values.size() / 2];
    };
    if (ours.empty())
        return;
    const double oursMedian = median(ours);
    const double bareMedian = median(bare);
    state.counters["runBlocking_us"] = oursMedian;
    state.counters["bare_us"] = bareMedian;
    state.counters["ratio"] = oursMedian / bareMedian;
}
BENCHMARK(InterleavedRatio)->Iterations(1000)->UseRealTime();

// Kibibytes of a "VmRSS"/"VmHWM" line of /proc/self/status.
long statusKiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

void FloodThroughLimit(benchmark::State& state)
{
    constexpr std::size_t kPiece = 64 * 1024;
    constexpr std::size_t kTotal = std::size_t(1) << 30;
    test::StandInTool tool("adb");
    tool.otherwise(
        { .chunks = { { .text = std::string(kPiece - 5, 'x') + "line\n", .repeat = kTotal / kPiece } } });
    double growthMiB = 0;
    for (auto _ : state) {
        // Writing 5 to clear_refs resets the peak, so VmHWM afterwards is this run's peak.
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = statusKiB("VmRSS");
        const ProcessResult result = ProcessRunner::runBlocking(tool.path(), {}, {}, 60, 65536);
        const long peak = statusKiB("VmHWM");
        growthMiB = static_cast<double>(peak - before) / 1024.0;
        if (result.stdOut.size() != 65536 - 1)
            state.SkipWithError("output not kept at its limit");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
    state.counters["peak_growth_MiB"] = growthMiB;
}
BENCHMARK(FloodThroughLimit)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each benchmark's time per iteration, to print the runner's overhead as one figure.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto ours = reporter.times.find("RunBlockingTrue/real_time");
    const auto bare = reporter.times.find("BareSpawnTrue/real_time");
    if (ours != reporter.times.end() && bare != reporter.times.end() && bare->second > 0)
        std::printf(
            "runBlocking / bare posix_spawn: %.2f (target at most 1.30)\n", ours->second / bare->second);
    benchmark::Shutdown();
    return 0;
}
