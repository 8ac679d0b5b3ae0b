#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <sys/types.h>

#include <QCoroTask>

#include "tools/RunHandle.h"

class QThreadPool;

namespace tessaly {

using Environment = std::map<std::string, std::string>;

// The outcome of one tool run. `stdOut`/`stdErr` stand for the tool's two
// streams (the plain names are C macros).
struct ProcessResult {
    std::int32_t exitCode = 0;
    std::string stdOut;
    std::string stdErr;
    bool timedOut = false;

    // stdOut and stdErr, empty ones dropped, joined by "\n".
    std::string combinedOutput() const;
};

// Keeps the most recent `limit` bytes of a stream (or, for binary output, the first ones);
// safe to use from several threads.
class OutputBuffer {
public:
    enum class Keep { newest, first };
    explicit OutputBuffer(std::size_t limit, Keep keep = Keep::newest);

    void append(std::span<const std::uint8_t> bytes);
    void append(std::string_view bytes);
    // The kept bytes as UTF-8, each invalid sequence replaced by U+FFFD.
    std::string text() const;
    // The kept bytes unchanged, in stream order.
    std::vector<std::uint8_t> bytes() const;
    // Keep::first only: bytes past the limit came and were dropped.
    bool overflowed() const;
    std::size_t limit() const { return m_limit; }

private:
    mutable std::mutex m_lock;
    // A ring once full: the oldest kept byte is at m_start.
    std::vector<std::uint8_t> m_data;
    std::size_t m_start = 0;
    const std::size_t m_limit;
    const Keep m_keep;
    bool m_overflowed = false;
};

namespace ProcessRunner {

inline constexpr std::size_t kDefaultOutputLimit = 65536;
inline constexpr std::size_t kListingOutputLimit = 8 * 1024 * 1024;
// How long a tool past its time limit has after SIGTERM before SIGKILL.
inline constexpr double kGraceSeconds = 2.0;
// The most standard input a run may be given; a longer one is refused before anything starts.
inline constexpr std::size_t kInputLimit = 1024 * 1024;

// Whether the two output texts lose the white space at both ends. A folder listing is taken as
// printed: its last name may end in a space, which is part of the name.
enum class Trim { ends, none };

// Runs `executable` with `arguments` (never through a shell) and exactly `environment`,
// blocking the calling thread. `onStart` gets the child's stop handle right after a
// successful start and is never called when the start fails; the handle stays safe to use
// after the run has ended. The tool's standard input is the null device, or `input` when given:
// written in full while the output is read, then closed (what the tool leaves unread is dropped).
ProcessResult runBlocking(const std::string& executable, const std::vector<std::string>& arguments,
    const Environment& environment, double timeoutSeconds, std::size_t outputLimit = kDefaultOutputLimit,
    const std::function<void(const RunHandle&)>& onStart = {}, double graceSeconds = kGraceSeconds,
    Trim trim = Trim::ends, const std::optional<std::string>& input = std::nullopt);

// The same on a thread pool kept for tool runs; the awaiting coroutine resumes on its own thread.
QCoro::Task<ProcessResult> run(std::string executable, std::vector<std::string> arguments,
    Environment environment, double timeoutSeconds, std::size_t outputLimit = kDefaultOutputLimit,
    Trim trim = Trim::ends, std::optional<std::string> input = std::nullopt);

// The pool `run` uses; other work that waits for a tool run belongs there too.
QThreadPool& toolPool();

// A run whose standard output is binary (an image): its first `limit` bytes exactly as
// written; `result.stdOut` stays empty. A run that passes the limit is stopped there.
struct RawRun {
    ProcessResult result;
    std::vector<std::uint8_t> bytes;
    bool overflowed = false;
};
RawRun runBlockingRaw(const std::string& executable, const std::vector<std::string>& arguments,
    const Environment& environment, double timeoutSeconds, std::size_t limit);
QCoro::Task<RawRun> runRaw(std::string executable, std::vector<std::string> arguments,
    Environment environment, double timeoutSeconds, std::size_t limit);

// Ends every run under way, on any thread: SIGTERM, then SIGKILL for those still there after
// `graceSeconds`; returns once they have all ended. Quitting uses it so that no run holds the
// process up to its time limit.
void endAllRuns(double graceSeconds);

// The reduced environment every tool gets, built from `processEnvironment`
// (the application's own environment when not given).
Environment safeEnvironment(const std::optional<std::string>& adbPath);
Environment safeEnvironment(const std::optional<std::string>& adbPath, const Environment& processEnvironment);

// UTF-8 decoding with replacement characters and white-space trimming, shared with other readers of tool
// output.
std::string decodeUtf8Lossy(std::span<const std::uint8_t> bytes);
std::string trimWhitespace(std::string_view text);

} // namespace ProcessRunner
} // namespace tessaly
