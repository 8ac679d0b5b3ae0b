#include "tools/ProcessRunner.h"

#include "tools/ToolLocator.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <system_error>
#include <utility>

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tessaly::ProcessRunner {

namespace {

constexpr std::size_t kStderrLimit = 65536;
constexpr double kLongestTimeout = 1e7;
constexpr std::size_t kReadChunk = 65536;
constexpr std::size_t kDrainChunk = 4096;

using Clock = std::chrono::steady_clock;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

void setNonBlocking(int fd, bool on)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

// Keeps the ends clear of 0-2, so the child's dup2 onto its standard streams never
// lands on one of them; only our end is non-blocking (the reading one unless `weWrite`).
int makePipe(Fd& readEnd, Fd& writeEnd, bool weWrite = false)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return errno;
    for (int& fd : fds) {
        if (fd <= STDERR_FILENO) {
            const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            ::close(fd);
            fd = moved;
        }
    }
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    if (!readEnd.valid() || !writeEnd.valid())
        return EMFILE;
    setNonBlocking(weWrite ? writeEnd.get() : readEnd.get(), true);
    return 0;
}

std::string lastComponent(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

ProcessResult startFailure(const std::string& executable, int error)
{
    ProcessResult result;
    result.exitCode = -1;
    result.stdErr = "Could not start " + lastComponent(executable) + ": "
        + std::error_code(error, std::generic_category()).message();
    return result;
}

bool hasNul(const std::string& text)
{
    return text.find('\0') != std::string::npos;
}

// A NUL would silently cut an argument short, and "=" in a name would change which
// variable the child sees: refuse instead of running something else than asked.
bool acceptable(
    const std::string& executable, const std::vector<std::string>& arguments, const Environment& environment)
{
    if (hasNul(executable) || std::any_of(arguments.begin(), arguments.end(), hasNul))
        return false;
    return std::none_of(environment.begin(), environment.end(), [](const auto& entry) {
        return entry.first.empty() || entry.first.find('=') != std::string::npos || hasNul(entry.first)
            || hasNul(entry.second);
    });
}

// Reads what is there now; false once the pipe is finished (end of file or an error).
bool readOnce(int fd, OutputBuffer& buffer, std::array<std::uint8_t, kReadChunk>& chunk)
{
    const ssize_t count = ::read(fd, chunk.data(), chunk.size());
    if (count > 0) {
        buffer.append(std::span(chunk.data(), static_cast<std::size_t>(count)));
        return true;
    }
    return count < 0 && (errno == EAGAIN || errno == EINTR);
}

// Writes what the pipe takes now; false once the input is done with: all written, or the child
// closed its end (the rest is dropped).
bool writeOnce(int fd, std::string_view& pending)
{
    // Writing to a pipe nobody reads raises SIGPIPE in this thread, which would end the application:
    // held back here and taken out of the pending signals again.
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    ssize_t count = 0;
    do
        count = ::write(fd, pending.data(), std::min(pending.size(), kReadChunk));
    while (count < 0 && errno == EINTR);
    const int error = count < 0 ? errno : 0;
    if (error == EPIPE) {
        const timespec now {};
        while (::sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) { }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (count > 0)
        pending.remove_prefix(static_cast<std::size_t>(count));
    return (count >= 0 || error == EAGAIN) && !pending.empty();
}

// What the child wrote before it ended is in the pipe now, at most the pipe's capacity.
// A background process that inherited the pipe may go on writing: stop at that amount.
void drain(Fd& fd, OutputBuffer& buffer)
{
    if (!fd.valid())
        return;
    const int capacity = ::fcntl(fd.get(), F_GETPIPE_SZ);
    const std::size_t most = capacity > 0 ? static_cast<std::size_t>(capacity) : 1024 * 1024;
    std::array<std::uint8_t, kDrainChunk> chunk;
    std::size_t total = 0;
    while (total < most) {
        const ssize_t count = ::read(fd.get(), chunk.data(), chunk.size());
        if (count <= 0)
            break;
        buffer.append(std::span(chunk.data(), static_cast<std::size_t>(count)));
        total += static_cast<std::size_t>(count);
    }
    fd.reset();
}

int statusCode(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return WTERMSIG(status);
    return -1;
}

int reap(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return statusCode(status);
}

struct Spawned {
    pid_t pid = -1;
    int error = 0;
};

// `inFd` < 0: standard input is the null device.
Spawned spawn(const std::string& executable, const std::vector<std::string>& arguments,
    const Environment& environment, int inFd, int outFd, int errFd)
{
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    std::vector<std::string> entries;
    entries.reserve(environment.size());
    for (const auto& [name, value] : environment)
        entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    envp.reserve(entries.size() + 1);
    for (std::string& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (inFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, inFd, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // adb start-server leaves a server behind: it must not keep any descriptor of ours.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    // Ignored or blocked signals survive exec; the tool must be stoppable by SIGTERM.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    Spawned spawned;
    spawned.error
        = ::posix_spawn(&spawned.pid, executable.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return spawned;
}

int pollMilliseconds(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

constexpr double kQuitGraceSeconds = 0.5;

// The children of the runs under way, so that quitting can end them. A child is listed from
// its start until just before it is reaped, so its pid cannot be reused while listed.
class LiveRuns {
public:
    static LiveRuns& instance()
    {
        // Never destroyed: the pool's destructor still uses it during static destruction.
        static auto* runs = new LiveRuns;
        return *runs;
    }

    void add(pid_t pid, int pidFd)
    {
        const std::lock_guard lock(m_lock);
        m_runs[pid] = pidFd;
    }
    void remove(pid_t pid)
    {
        const std::lock_guard lock(m_lock);
        m_runs.erase(pid);
        m_ended.notify_all();
    }
    // Sends `signal` to every listed child; true when none is left after waiting up to `seconds`.
    bool signalAndWait(int signal, double seconds)
    {
        std::unique_lock lock(m_lock);
        for (const auto& [pid, pidFd] : m_runs) {
            if (pidFd < 0 || ::syscall(SYS_pidfd_send_signal, pidFd, signal, nullptr, 0) != 0)
                ::kill(pid, signal);
        }
        return m_ended.wait_for(
            lock, std::chrono::duration<double>(seconds), [this] { return m_runs.empty(); });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_ended;
    std::map<pid_t, int> m_runs;
};

// Lists a run's child for as long as it is not reaped.
class ListedRun {
public:
    ListedRun(pid_t pid, int pidFd)
        : m_pid(pid)
    {
        LiveRuns::instance().add(pid, pidFd);
    }
    ~ListedRun() { end(); }
    ListedRun(const ListedRun&) = delete;
    ListedRun& operator=(const ListedRun&) = delete;
    void end()
    {
        if (const pid_t pid = std::exchange(m_pid, -1); pid > 0)
            LiveRuns::instance().remove(pid);
    }

private:
    pid_t m_pid;
};

// Runs block a thread for their whole time limit; Qt's global pool has one thread per core,
// so a slow command would hold up every other tool run behind it.
class ToolPool {
public:
    ToolPool()
    {
        m_pool.setMaxThreadCount(std::max(16, QThread::idealThreadCount()));
        m_pool.setObjectName(QStringLiteral("tessaly.tools"));
    }
    // At exit the runs still under way are ended rather than waited for.
    ~ToolPool()
    {
        m_pool.clear();
        do
            endAllRuns(kQuitGraceSeconds);
        while (!m_pool.waitForDone(50));
    }
    QThreadPool& pool() { return m_pool; }

private:
    QThreadPool m_pool;
};

} // namespace

QThreadPool& toolPool()
{
    static ToolPool pool;
    return pool.pool();
}

namespace {

// One run with its standard output collected into `out`; the result's stdOut is left to the caller.
ProcessResult runCollecting(const std::string& executable, const std::vector<std::string>& arguments,
    const Environment& environment, double timeoutSeconds, OutputBuffer& out,
    const std::function<void(const RunHandle&)>& onStart, double graceSeconds, Trim trim,
    const std::optional<std::string>& input)
{
    if (!acceptable(executable, arguments, environment))
        return startFailure(executable, EINVAL);
    if (input && input->size() > kInputLimit)
        return startFailure(executable, E2BIG);

    OutputBuffer err(kStderrLimit);
    Fd outRead, outWrite, errRead, errWrite;
    if (int error = makePipe(outRead, outWrite); error != 0)
        return startFailure(executable, error);
    if (int error = makePipe(errRead, errWrite); error != 0)
        return startFailure(executable, error);
    Fd inRead, inWrite;
    if (input) {
        if (int error = makePipe(inRead, inWrite, true); error != 0)
            return startFailure(executable, error);
    }
    std::string_view pendingInput = input ? std::string_view(*input) : std::string_view();

    const Spawned spawned
        = spawn(executable, arguments, environment, inRead.get(), outWrite.get(), errWrite.get());
    inRead.reset();
    outWrite.reset();
    errWrite.reset();
    if (pendingInput.empty())
        inWrite.reset();
    if (spawned.error != 0)
        return startFailure(executable, spawned.error);
    const pid_t pid = spawned.pid;
    const RunHandle handle = RunHandle::adopt(pid, static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));

    if (onStart) {
        try {
            onStart(handle);
        } catch (...) {
            ::kill(pid, SIGKILL);
            handle.markEnded();
            reap(pid);
            throw;
        }
    }

    // The run ends when the child ends, not at end of file: a server it started may hold the pipes.
    // The handle owns the pidfd; this is only a view of it.
    struct PidFdView {
        int fd;
        int get() const { return fd; }
        bool valid() const { return fd >= 0; }
    } pidFd { handle.pidfd() };
    ListedRun listed(pid, pidFd.get());
    if (!(timeoutSeconds >= 0))
        timeoutSeconds = 0;
    auto deadline = Clock::now()
        + std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(std::min(timeoutSeconds, kLongestTimeout)));
    enum class Stage { Running, Terminated, Killed } stage = Stage::Running;
    bool timedOut = false;
    bool ended = false;
    std::array<std::uint8_t, kReadChunk> chunk;

    while (!ended) {
        std::array<pollfd, 4> fds {};
        nfds_t count = 0;
        int inIndex = -1, outIndex = -1, errIndex = -1, pidIndex = -1;
        if (inWrite.valid()) {
            inIndex = static_cast<int>(count);
            fds[count++] = { inWrite.get(), POLLOUT, 0 };
        }
        if (outRead.valid()) {
            outIndex = static_cast<int>(count);
            fds[count++] = { outRead.get(), POLLIN, 0 };
        }
        if (errRead.valid()) {
            errIndex = static_cast<int>(count);
            fds[count++] = { errRead.get(), POLLIN, 0 };
        }
        if (pidFd.valid()) {
            pidIndex = static_cast<int>(count);
            fds[count++] = { pidFd.get(), POLLIN, 0 };
        }
        int wait = stage == Stage::Killed ? -1 : pollMilliseconds(deadline);
        if (!pidFd.valid())
            wait = wait < 0 ? 10 : std::min(wait, 10);

        const int ready = ::poll(fds.data(), count, wait);
        if (ready < 0 && errno != EINTR) {
            ::kill(pid, SIGKILL);
            break;
        }
        if (ready > 0) {
            if (inIndex >= 0 && fds[inIndex].revents != 0 && !writeOnce(inWrite.get(), pendingInput))
                inWrite.reset();
            if (outIndex >= 0 && fds[outIndex].revents != 0 && !readOnce(outRead.get(), out, chunk))
                outRead.reset();
            if (errIndex >= 0 && fds[errIndex].revents != 0 && !readOnce(errRead.get(), err, chunk))
                errRead.reset();
            if (pidIndex >= 0 && fds[pidIndex].revents != 0)
                ended = true;
        }
        if (!pidFd.valid()) {
            siginfo_t info {};
            if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0
                || info.si_pid != 0)
                ended = true;
        }
        // Binary output past its limit is useless: stop the tool rather than read on.
        if (!ended && stage == Stage::Running && out.overflowed()) {
            ::kill(pid, SIGTERM);
            stage = Stage::Terminated;
            deadline = Clock::now()
                + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(graceSeconds));
            continue;
        }
        if (ended || stage == Stage::Killed || Clock::now() < deadline)
            continue;
        if (stage == Stage::Running) {
            timedOut = true;
            ::kill(pid, SIGTERM);
            stage = Stage::Terminated;
            deadline = Clock::now()
                + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(graceSeconds));
        } else {
            ::kill(pid, SIGKILL);
            stage = Stage::Killed;
        }
    }

    inWrite.reset();
    listed.end();
    ProcessResult result;
    handle.markEnded();
    result.exitCode = reap(pid);
    drain(outRead, out);
    drain(errRead, err);
    result.stdErr = trim == Trim::ends ? trimWhitespace(err.text()) : err.text();
    result.timedOut = timedOut;
    return result;
}

} // namespace

ProcessResult runBlocking(const std::string& executable, const std::vector<std::string>& arguments,
    const Environment& environment, double timeoutSeconds, std::size_t outputLimit,
    const std::function<void(const RunHandle&)>& onStart, double graceSeconds, Trim trim,
    const std::optional<std::string>& input)
{
    OutputBuffer out(outputLimit);
    ProcessResult result = runCollecting(
        executable, arguments, environment, timeoutSeconds, out, onStart, graceSeconds, trim, input);
    result.stdOut = trim == Trim::ends ? trimWhitespace(out.text()) : out.text();
    return result;
}

RawRun runBlockingRaw(const std::string& executable, const std::vector<std::string>& arguments,
    const Environment& environment, double timeoutSeconds, std::size_t limit)
{
    OutputBuffer out(limit, OutputBuffer::Keep::first);
    RawRun run;
    run.result = runCollecting(
        executable, arguments, environment, timeoutSeconds, out, {}, kGraceSeconds, Trim::ends, std::nullopt);
    run.bytes = out.bytes();
    run.overflowed = out.overflowed();
    return run;
}

QCoro::Task<RawRun> runRaw(std::string executable, std::vector<std::string> arguments,
    Environment environment, double timeoutSeconds, std::size_t limit)
{
    QFuture<RawRun> future = QtConcurrent::run(&toolPool(),
        [executable = std::move(executable), arguments = std::move(arguments),
            environment = std::move(environment), timeoutSeconds, limit]() {
            try {
                return runBlockingRaw(executable, arguments, environment, timeoutSeconds, limit);
            } catch (const std::exception& error) {
                RawRun failed;
                failed.result.exitCode = -1;
                failed.result.stdErr = "Could not start " + lastComponent(executable) + ": " + error.what();
                return failed;
            }
        });
    co_return co_await future;
}

QCoro::Task<ProcessResult> run(std::string executable, std::vector<std::string> arguments,
    Environment environment, double timeoutSeconds, std::size_t outputLimit, Trim trim,
    std::optional<std::string> input)
{
    QFuture<ProcessResult> future = QtConcurrent::run(&toolPool(),
        [executable = std::move(executable), arguments = std::move(arguments),
            environment = std::move(environment), timeoutSeconds, outputLimit, trim,
            input = std::move(input)]() {
            try {
                return runBlocking(executable, arguments, environment, timeoutSeconds, outputLimit, {},
                    kGraceSeconds, trim, input);
            } catch (const std::exception& error) {
                ProcessResult failed;
                failed.exitCode = -1;
                failed.stdErr = "Could not start " + lastComponent(executable) + ": " + error.what();
                return failed;
            }
        });
    co_return co_await future;
}

void endAllRuns(double graceSeconds)
{
    LiveRuns& runs = LiveRuns::instance();
    if (!runs.signalAndWait(SIGTERM, graceSeconds))
        runs.signalAndWait(SIGKILL, 5.0);
}

Environment safeEnvironment(const std::optional<std::string>& adbPath)
{
    Environment own;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string_view::npos)
            own.emplace(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
    }
    return safeEnvironment(adbPath, own);
}

Environment safeEnvironment(const std::optional<std::string>& adbPath, const Environment& processEnvironment)
{
    // The display variables let scrcpy open its window.
    static const std::array<const char*, 9> passed = { "HOME", "USER", "LOGNAME", "TMPDIR", "LANG", "DISPLAY",
        "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "XAUTHORITY" };
    Environment environment;
    for (const char* name : passed) {
        if (auto found = processEnvironment.find(name); found != processEnvironment.end())
            environment[name] = found->second;
    }
    environment["PATH"] = "/usr/local/bin:/usr/bin:/bin";
    if (adbPath)
        environment["ADB"] = *adbPath;
    for (const auto& [name, value] : ToolLocator::builtInEnvironment())
        environment[name] = value;
    return environment;
}

} // namespace tessaly::ProcessRunner
