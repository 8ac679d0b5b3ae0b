// Phone files: reading a large folder listing, sorting a large folder people-style, and the
// cost of the transfer queue around one big copy.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QUrl>

#include "files/FileBrowser.h"
#include "files/FileOrder.h"
#include "files/FileTable.h"
#include "files/FileTransfers.h"
#include "files/FilesWindow.h"
#include "phone/PhoneFiles.h"
#include "support/StandInTool.h"

using namespace tessaly;

namespace {

std::string listingText(int entries, int version = 0)
{
    std::string text = "000041f9 00001000 65a3c2b1 .\n000041f9 00001000 65a3c2b1 ..\n";
    char line[128];
    for (int i = 0; i < entries; ++i) {
        std::snprintf(line, sizeof line, "000081a4 %08x %08x IMG_2024%04d_%06d.jpg\n",
            1000 + i * 37 + version, 0x65a3c2b1 + i, i % 10000, i);
        text += line;
    }
    return text;
}

void ParseListing(benchmark::State& state)
{
    const std::string text = listingText(100000);
    for (auto _ : state) {
        const auto parsed = PhoneFiles::parseListing(text);
        benchmark::DoNotOptimize(parsed.files.data());
    }
}
BENCHMARK(ParseListing)->Unit(benchmark::kMillisecond);

// The floor: cutting the same text into one string per line and nothing else.
void SplitLines(benchmark::State& state)
{
    const std::string text = listingText(100000);
    for (auto _ : state) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < text.size()) {
            const auto end = text.find('\n', start);
            lines.emplace_back(text, start, (end == std::string::npos ? text.size() : end) - start);
            start = end == std::string::npos ? text.size() : end + 1;
        }
        benchmark::DoNotOptimize(lines.data());
    }
}
BENCHMARK(SplitLines)->Unit(benchmark::kMillisecond);

std::vector<PhoneFile> folderOf(int count)
{
    std::mt19937 random(7);
    const std::vector<std::string> stems = { "IMG_", "Screenshot_", "document ", "Song - ", "VID-", "notes" };
    std::vector<PhoneFile> files;
    for (int i = 0; i < count; ++i) {
        const std::string name = stems[random() % stems.size()] + std::to_string(random() % 100000)
            + (i % 3 == 0 ? ".jpg" : ".mp4");
        files.push_back({ name, i % 50 == 0 ? PhoneFile::Kind::folder : PhoneFile::Kind::file,
            static_cast<std::int64_t>(random() % 10000000), static_cast<std::int64_t>(random()) });
    }
    return files;
}

// A new listing (collation keys made once) and its order by name.
void SortPeopleStyle(benchmark::State& state)
{
    const auto files = folderOf(10000);
    FileOrder order;
    for (auto _ : state) {
        order.setFiles(files);
        benchmark::DoNotOptimize(order.sorted(FileOrder::Key::name, true).data());
    }
}
BENCHMARK(SortPeopleStyle)->Unit(benchmark::kMillisecond);

// Re-sorting the listing already shown (a click on a column header).
void ResortPeopleStyle(benchmark::State& state)
{
    FileOrder order;
    order.setFiles(folderOf(10000));
    for (auto _ : state)
        benchmark::DoNotOptimize(order.sorted(FileOrder::Key::name, true).data());
}
BENCHMARK(ResortPeopleStyle)->Unit(benchmark::kMillisecond);

void SortByteWise(benchmark::State& state)
{
    const auto files = folderOf(10000);
    for (auto _ : state) {
        std::vector<std::string> names;
        names.reserve(files.size());
        for (const PhoneFile& file : files)
            names.push_back(file.name);
        std::sort(names.begin(), names.end());
        benchmark::DoNotOptimize(names.data());
    }
}
BENCHMARK(SortByteWise)->Unit(benchmark::kMillisecond);

struct BigCopy {
    QTemporaryDir folder;
    test::StandInTool adb { "adb" };
    std::string local = folder.path().toStdString() + "/big.bin";
    std::string phone = folder.path().toStdString() + "/sdcard";

    explicit BigCopy(double bytesPerSecond)
    {
        adb.playPhone(phone, { .bytesPerSecond = bytesPerSecond });
        std::filesystem::create_directories(phone + "/Download");
        std::ofstream out(local, std::ios::binary);
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 100; ++i)
            out << block;
    }
    void clearPhone()
    {
        std::filesystem::remove_all(phone + "/Download"),
            std::filesystem::create_directories(phone + "/Download");
    }
};

void SendThroughQueue(benchmark::State& state)
{
    BigCopy copy(static_cast<double>(state.range(0)));
    FileTransfers transfers;
    QEventLoop loop;
    transfers.onFinished = [&](const FileTransfers::Summary& summary) {
        if (summary.copied != 1)
            state.SkipWithError("the copy failed");
        loop.quit();
    };
    for (auto _ : state) {
        // The GUI thread sleeps in its event loop meanwhile, as in the application.
        transfers.send({ QUrl::fromLocalFile(QString::fromStdString(copy.local)) }, { { "Download" } },
            ADB { copy.adb.path() }, "R58M12ABCDE");
        loop.exec();
        state.PauseTiming();
        copy.clearPhone();
        state.ResumeTiming();
    }
}
// Argument: the stand-in phone's speed in bytes per second (0: as fast as the disk cache; 40 MB/s:
// a USB 2 cable).
BENCHMARK(SendThroughQueue)
    ->Arg(0)
    ->Arg(40000000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same push run directly, without the queue, the folder check and the callbacks.
void PushDirectly(benchmark::State& state)
{
    BigCopy copy(static_cast<double>(state.range(0)));
    for (auto _ : state) {
        const ProcessResult result = ProcessRunner::runBlocking(copy.adb.path(),
            { "-s", "R58M12ABCDE", "push", copy.local, "/sdcard/Download/big.bin" },
            ProcessRunner::safeEnvironment(copy.adb.path()), 600);
        if (result.exitCode != 0)
            state.SkipWithError("the copy failed");
        state.PauseTiming();
        copy.clearPhone();
        state.ResumeTiming();
    }
}
BENCHMARK(PushDirectly)->Arg(0)->Arg(40000000)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// Both copies in turn, so that a busy machine weighs on each alike; the median of each.
void SendVersusPushInterleaved(benchmark::State& state)
{
    BigCopy copy(static_cast<double>(state.range(0)));
    FileTransfers transfers;
    QEventLoop loop;
    transfers.onFinished = [&](const FileTransfers::Summary&) { loop.quit(); };
    const ADB adb { copy.adb.path() };
    std::vector<double> queued, direct;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        transfers.send({ QUrl::fromLocalFile(QString::fromStdString(copy.local)) }, { { "Download" } }, adb,
            "R58M12ABCDE");
        loop.exec();
        queued.push_back(static_cast<double>(clock.nsecsElapsed()));
        copy.clearPhone();
        clock.restart();
        ProcessRunner::runBlocking(adb.executable,
            { "-s", "R58M12ABCDE", "push", copy.local, "/sdcard/Download/big.bin" },
            ProcessRunner::safeEnvironment(adb.executable), 600);
        direct.push_back(static_cast<double>(clock.nsecsElapsed()));
        copy.clearPhone();
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    state.counters["queue_ms"] = median(queued) / 1e6;
    state.counters["direct_ms"] = median(direct) / 1e6;
    state.counters["ratio"] = median(queued) / median(direct);
}
BENCHMARK(SendVersusPushInterleaved)
    ->Arg(0)
    ->Arg(40000000)
    ->Iterations(9)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The folder check that comes before every send: one "adb ls".
void CheckFolder(benchmark::State& state)
{
    BigCopy copy(0);
    const ADB adb { copy.adb.path() };
    for (auto _ : state)
        benchmark::DoNotOptimize(adb.listBlocking({ { "Download" } }, "R58M12ABCDE"));
}
BENCHMARK(CheckFolder)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

double guiThreadSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A changed 20,000-entry folder read again with every row selected, as the window does it: only
// the GUI thread's processor time counts (listing, parsing and collation keys run elsewhere).
void RelistSelectedFolder(benchmark::State& state)
{
    QTemporaryDir folder;
    test::StandInTool adb { "adb" };
    const Device phone { "R58M12ABCDE", "device", "SM_G991B", Device::Connection::usb };
    FileBrowser browser([&]() -> QCoro::Task<FileBrowser::Found> {
        co_return FileBrowser::Found { ADB { adb.path() }, { phone }, phone };
    });
    FilesWindow window(browser);
    QEventLoop loop;
    QObject::connect(&browser, &FileBrowser::loaded, &loop, &QEventLoop::quit);
    const auto relist = [&](int version) {
        adb.on({ "-s", phone.serial, "ls", "/sdcard/Download" }, { .out = listingText(20000, version) });
        browser.reload();
        loop.exec();
        QCoreApplication::processEvents(); // the posted selection update
    };
    relist(0);
    window.table().selectAll();
    QCoreApplication::processEvents();
    int version = 0;
    for (auto _ : state) {
        const double before = guiThreadSeconds();
        relist(++version);
        state.SetIterationTime(guiThreadSeconds() - before);
    }
    if (browser.selectedNames().size() != 20000)
        state.SkipWithError("the selection was lost");
}
BENCHMARK(RelistSelectedFolder)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                times[run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args)]
                    = run.run_name.function_name.ends_with("Style")
                        || run.run_name.function_name == "SortByteWise"
                        || run.run_name.function_name == "ParseListing"
                        || run.run_name.function_name == "SplitLines"
                    ? run.GetAdjustedCPUTime()
                    : run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // CPU time for the in-process work (the machine may be busy), wall time for the copies.
    const auto ratio = [&](const char* ours, const char* floor, const char* what, double target) {
        const auto a = reporter.times.find(ours);
        const auto b = reporter.times.find(floor);
        if (a != reporter.times.end() && b != reporter.times.end() && b->second > 0)
            std::printf("%s: %.2f (target at most %.2f)\n", what, a->second / b->second, target);
    };
    ratio("ParseListing", "SplitLines", "parseListing / line split", 3.0);
    ratio("SortPeopleStyle", "SortByteWise", "people-style sort with new keys / byte-wise std::sort", 5.0);
    ratio("ResortPeopleStyle", "SortByteWise", "people-style re-sort / byte-wise std::sort", 5.0);
    if (const auto relist = reporter.times.find("RelistSelectedFolder"); relist != reporter.times.end())
        std::printf(
            "re-list of 20,000 selected entries, GUI thread: %.1f ms (target under 100)\n", relist->second);
    ratio("SendThroughQueue/0", "PushDirectly/0", "send through the queue / the tool's own push, disk cache",
        1.05);
    ratio("SendThroughQueue/40000000", "PushDirectly/40000000",
        "send through the queue / the tool's own push, 40 MB/s", 1.05);
    benchmark::Shutdown();
    return 0;
}
