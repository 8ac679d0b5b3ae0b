#include "mirroring/ScrcpyRunner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>

#include "mirroring/PTYReader.h"

namespace tessaly {

// One started process. The pidfd keeps its identity: signals sent through it can never
// reach another process that reuses the number after the tool is reaped.
struct ScrcpyRunner::Run {
    const pid_t pid;
    const int pidfd;
    // GUI thread only.
    bool stoppedByUser = false;
    std::shared_ptr<OutputBuffer> output;
    ExitHandler onExit;

    Run(pid_t p, int fd, std::shared_ptr<OutputBuffer> buffer, ExitHandler handler)
        : pid(p)
        , pidfd(fd)
        , output(std::move(buffer))
        , onExit(std::move(handler))
    {
    }
    ~Run() { ::close(pidfd); }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    bool isRunning() const { return !waitForExit(std::chrono::milliseconds(0)); }

    // True once the process has ended (whether or not it has been reaped yet).
    bool waitForExit(std::chrono::milliseconds limit) const
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd entry { pidfd, POLLIN, 0 };
            const int ready = ::poll(&entry, 1, int(std::max<long long>(0, left.count())));
            if (ready > 0)
                return true;
            if ((ready < 0 && errno != EINTR) || left.count() <= 0)
                return false;
        }
    }

    void signal(int number) const { ::syscall(SYS_pidfd_send_signal, pidfd, number, nullptr, 0); }
};

// Finished runs waiting for the GUI thread, which an eventfd wakes.
struct ScrcpyRunner::Reports {
    std::mutex lock;
    std::vector<std::pair<std::shared_ptr<Run>, std::int32_t>> ready;
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    ~Reports() { ::close(wakeFd); }

    void post(std::shared_ptr<Run> run, std::int32_t status)
    {
        {
            std::lock_guard guard(lock);
            ready.emplace_back(std::move(run), status);
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
    }

    std::vector<std::pair<std::shared_ptr<Run>, std::int32_t>> take()
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(wakeFd, &count, sizeof count);
        std::lock_guard guard(lock);
        return std::exchange(ready, {});
    }
};

namespace {

std::int32_t terminationStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return WTERMSIG(status);
    return -1;
}

} // namespace

// The "tessaly.scrcpy-output" thread: reads every run's terminal, notices every run's end,
// and posts a run's report once both have happened.
class ScrcpyRunner::OutputThread {
public:
    explicit OutputThread(Reports& reports)
        : m_reports(reports)
    {
        // Without its wake-up descriptor the thread could never be told to end, so it is not
        // started at all; `start` refuses every run then.
        if (canWake())
            m_thread = std::thread([this] { loop(); });
    }

    // Closes every reader still open; their runs are never reported.
    ~OutputThread()
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard guard(m_lock);
            m_quit = true;
        }
        wake();
        m_thread.join();
        ::close(m_wakeFd);
    }

    OutputThread(const OutputThread&) = delete;
    OutputThread& operator=(const OutputThread&) = delete;

    bool canWake() const { return m_wakeFd >= 0; }

    void watch(std::shared_ptr<Run> run, int master, std::shared_ptr<OutputBuffer> buffer,
        PTYReader::LineHandler onLine)
    {
        auto watch = std::make_unique<Watch>();
        watch->run = std::move(run);
        watch->reader = std::make_unique<PTYReader>(
            master, std::move(buffer), std::move(onLine), [this, w = watch.get()] { finishIfDone(*w); });
        {
            std::lock_guard guard(m_lock);
            m_incoming.push_back(std::move(watch));
        }
        wake();
    }

private:
    struct Watch {
        std::shared_ptr<Run> run;
        std::unique_ptr<PTYReader> reader;
        std::int32_t status = -1;
        bool ended = false;
        bool reported = false;

        ~Watch()
        {
            // Gone with the runner while the tool ran: take its exit status if it is there.
            if (!ended)
                ::waitpid(run->pid, nullptr, WNOHANG);
        }
    };

    void wake()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
    }

    void loop()
    {
        ::prctl(PR_SET_NAME, "tessaly.scrcpy-output");
        std::vector<std::unique_ptr<Watch>> watches;
        std::vector<pollfd> entries;
        std::vector<std::pair<Watch*, bool>> owners; // per entry after the first: watch, is the process end
        for (;;) {
            entries.assign(1, pollfd { m_wakeFd, POLLIN, 0 });
            owners.clear();
            for (const auto& watch : watches) {
                if (!watch->reader->isClosed()) {
                    entries.push_back({ watch->reader->fd(), POLLIN, 0 });
                    owners.emplace_back(watch.get(), false);
                }
                if (!watch->ended) {
                    entries.push_back({ watch->run->pidfd, POLLIN, 0 });
                    owners.emplace_back(watch.get(), true);
                }
            }
            if (::poll(entries.data(), entries.size(), -1) < 0) {
                if (errno != EINTR)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            if (entries[0].revents != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] const auto read = ::read(m_wakeFd, &count, sizeof count);
                std::lock_guard guard(m_lock);
                if (m_quit)
                    return;
                for (auto& watch : m_incoming)
                    watches.push_back(std::move(watch));
                m_incoming.clear();
            }
            for (std::size_t i = 1; i < entries.size(); ++i) {
                if (entries[i].revents == 0)
                    continue;
                auto [watch, isProcessEnd] = owners[i - 1];
                if (isProcessEnd)
                    reap(*watch);
                else
                    watch->reader->readReady();
            }
            std::erase_if(watches, [](const auto& watch) { return watch->reported; });
        }
    }

    void reap(Watch& watch)
    {
        int status = 0;
        const pid_t reaped = ::waitpid(watch.run->pid, &status, WNOHANG);
        if (reaped == 0 || (reaped < 0 && errno == EINTR))
            return;
        // ECHILD: somebody else reaped it (SIGCHLD ignored); the status is lost.
        watch.status = reaped == watch.run->pid ? terminationStatus(status) : -1;
        watch.ended = true;
        watch.reader->processExited();
        finishIfDone(watch);
    }

    void finishIfDone(Watch& watch)
    {
        if (watch.reported || !watch.ended || !watch.reader->isClosed())
            return;
        watch.reported = true;
        m_reports.post(watch.run, watch.status);
    }

    Reports& m_reports;
    const int m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::mutex m_lock;
    std::vector<std::unique_ptr<Watch>> m_incoming; // guarded by m_lock
    bool m_quit = false; // guarded by m_lock
    std::thread m_thread;
};

namespace {

struct FileDescriptor {
    int fd = -1;
    FileDescriptor() = default;
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int release() { return std::exchange(fd, -1); }
};

std::error_code lastError()
{
    return { errno, std::generic_category() };
}

// A terminal pair whose descriptors are close-on-exec from the first moment, so tools
// that other threads start meanwhile never inherit them.
std::error_code openTerminal(FileDescriptor& master, FileDescriptor& slave)
{
    master.fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master.fd < 0 || ::grantpt(master.fd) != 0 || ::unlockpt(master.fd) != 0)
        return lastError();
    slave.fd = ::ioctl(master.fd, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave.fd < 0) {
        char name[128];
        if (::ptsname_r(master.fd, name, sizeof name) != 0)
            return lastError();
        slave.fd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave.fd < 0)
            return lastError();
    }
    // No post-processing: lines end in a bare line feed. No echo: nothing written to
    // the terminal comes back.
    termios attributes {};
    if (::tcgetattr(slave.fd, &attributes) == 0) {
        attributes.c_oflag &= ~tcflag_t(OPOST);
        attributes.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(slave.fd, TCSANOW, &attributes);
    }
    const int flags = ::fcntl(master.fd, F_GETFL);
    if (flags < 0 || ::fcntl(master.fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return lastError();
    return {};
}

std::error_code spawn(const std::string& executable, const std::vector<std::string>& arguments,
    const Environment& environment, int slave, pid_t& pid)
{
    std::vector<std::string> argumentTexts { executable };
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argumentTexts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> environmentTexts;
    for (const auto& [name, value] : environment)
        environmentTexts.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& text : environmentTexts)
        envp.push_back(text.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, slave, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, slave, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // The tool starts with default signal handling, whatever this process ignores or blocks.
    sigset_t mask;
    sigemptyset(&mask);
    posix_spawnattr_setsigmask(&attributes, &mask);
    sigfillset(&mask);
    posix_spawnattr_setsigdefault(&attributes, &mask);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const int error
        = ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? std::error_code() : std::error_code(error, std::generic_category());
}

} // namespace

ScrcpyRunner::ScrcpyRunner(QObject* parent)
    : ScrcpyRunner(StopTimes {}, parent)
{
}

ScrcpyRunner::ScrcpyRunner(StopTimes stopTimes, QObject* parent)
    : QObject(parent)
    , m_stopTimes(stopTimes)
    , m_reports(std::make_unique<Reports>())
    , m_reportSource(new QSocketNotifier(m_reports->wakeFd, QSocketNotifier::Read, this))
    , m_outputThread(std::make_unique<OutputThread>(*m_reports))
    , m_output(std::make_shared<OutputBuffer>(kOutputLimit))
{
    connect(m_reportSource, &QSocketNotifier::activated, this, [this] { deliverReports(); });
}

ScrcpyRunner::~ScrcpyRunner()
{
    stopAndWait();
    m_outputThread.reset();
    delete m_reportSource;
    // Reports not yet delivered go with m_reports: their handlers are never called.
}

std::error_code ScrcpyRunner::start(const std::string& executable, const std::vector<std::string>& arguments,
    const Environment& environment, LineHandler onLine, ExitHandler onExit)
{
    if (isRunning())
        return {};
    // Without its wake-up descriptors no run could ever be read or reported.
    if (m_reports->wakeFd < 0 || !m_outputThread->canWake())
        return std::make_error_code(std::errc::too_many_files_open);
    FileDescriptor master, slave;
    if (const auto error = openTerminal(master, slave))
        return error;
    pid_t pid = 0;
    if (const auto error = spawn(executable, arguments, environment, slave.fd, pid))
        return error;
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        const auto error = lastError();
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return error;
    }
    ::close(slave.release());

    auto buffer = std::make_shared<OutputBuffer>(kOutputLimit);
    auto run = std::make_shared<Run>(pid, pidfd, buffer, std::move(onExit));
    m_outputThread->watch(run, master.release(), buffer, std::move(onLine));
    m_output = std::move(buffer);
    m_process = std::move(run);
    return {};
}

void ScrcpyRunner::deliverReports()
{
    for (const auto& [run, status] : m_reports->take())
        finishRun(run, status);
}

void ScrcpyRunner::finishRun(const std::shared_ptr<Run>& run, std::int32_t status)
{
    // A newer run may have started since this one's process ended; it stays.
    if (m_process == run)
        m_process.reset();
    if (run->onExit)
        run->onExit(status, run->output->text(), run->stoppedByUser);
}

void ScrcpyRunner::stop()
{
    if (!isRunning())
        return;
    m_process->stoppedByUser = true;
    m_process->signal(SIGINT);
    QTimer::singleShot(int(m_stopTimes.killAfterStop * 1000), this, [run = m_process] {
        if (run->isRunning())
            run->signal(SIGKILL);
    });
}

void ScrcpyRunner::stopAndWait()
{
    if (!isRunning())
        return;
    const auto run = m_process;
    run->stoppedByUser = true;
    run->signal(SIGINT);
    if (run->waitForExit(
            std::chrono::milliseconds(static_cast<long long>(m_stopTimes.graceBeforeKill * 1000))))
        return;
    run->signal(SIGKILL);
    // A killed process ends at once unless the kernel holds it in an uninterruptible wait;
    // quitting must not hang on that.
    run->waitForExit(std::chrono::seconds(5));
}

bool ScrcpyRunner::isRunning() const
{
    return m_process && m_process->isRunning();
}

std::string ScrcpyRunner::output() const
{
    return m_output->text();
}

} // namespace tessaly
