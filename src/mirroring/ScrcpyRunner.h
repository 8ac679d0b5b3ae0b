#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <QObject>

#include "tools/ProcessRunner.h"

class QSocketNotifier;

namespace tessaly {

// Runs the long-lived mirroring tool with its output on a pseudo-terminal (so it prints
// line by line, as to a person), reads that output on the "tessaly.scrcpy-output" thread
// and reports the end of each run on the GUI thread. Used from the GUI thread only.
//
// The output thread is a plain poll loop rather than a Qt event loop: every hand-off
// between the threads goes through a mutex and an eventfd, so ThreadSanitizer can
// follow it even though the system's Qt is not instrumented.
class ScrcpyRunner : public QObject {
public:
    // Called on the reader thread, once per line, without line feed and carriage returns.
    using LineHandler = std::function<void(const std::string& line)>;
    // Called on the GUI thread once per successful start, after every line was handed on.
    using ExitHandler
        = std::function<void(std::int32_t status, const std::string& output, bool stoppedByUser)>;

    struct StopTimes {
        double killAfterStop = 3.0; // `stop`: SIGKILL if still running this long after SIGINT
        double graceBeforeKill = 2.0; // `stopAndWait`: how long SIGINT may take
    };

    static constexpr std::size_t kOutputLimit = 65536;

    explicit ScrcpyRunner(QObject* parent = nullptr);
    explicit ScrcpyRunner(StopTimes stopTimes, QObject* parent = nullptr);
    // Stops a running tool and waits for it; a pending exit report is dropped.
    ~ScrcpyRunner() override;
    ScrcpyRunner(const ScrcpyRunner&) = delete;
    ScrcpyRunner& operator=(const ScrcpyRunner&) = delete;

    // Starts a run with exactly `environment`. Does nothing (and reports no error) while a
    // run's process is still going. On failure nothing changes and `onExit` is never called.
    std::error_code start(const std::string& executable, const std::vector<std::string>& arguments,
        const Environment& environment, LineHandler onLine, ExitHandler onExit);
    // SIGINT now, SIGKILL later if the tool ignores it. Does not wait.
    void stop();
    // SIGINT, then SIGKILL if the tool is still running after the grace time; returns once it has ended.
    void stopAndWait();

    bool isRunning() const;
    // The last 65,536 bytes the current (or last) run printed.
    std::string output() const;

private:
    struct Run;
    struct Reports;
    class OutputThread;

    void deliverReports();
    void finishRun(const std::shared_ptr<Run>& run, std::int32_t status);

    StopTimes m_stopTimes;
    std::unique_ptr<Reports> m_reports;
    QSocketNotifier* m_reportSource;
    std::unique_ptr<OutputThread> m_outputThread;
    std::shared_ptr<Run> m_process;
    std::shared_ptr<OutputBuffer> m_output;
};

} // namespace tessaly
