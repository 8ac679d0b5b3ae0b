#include "mirroring/ScrcpyRunner.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include "mirroring/PTYReader.h"

namespace tessaly {

// One started process. The pidfd keeps its identity: signals sent through it can never
// reach another process that reuses the number after the tool is reaped.
struct ScrcpyRunner::Run {
    pid_t pid;
    int pidfd;
    bool stoppedByUser = false; // GUI thread only

    Run(pid_t p, int fd)
        : pid(p)
        , pidfd(fd)
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

namespace {

struct FileDescriptor {
    int fd = -1;
    explicit FileDescriptor(int f = -1)
        : fd(f)
    {
    }
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

// A terminal pair whose master is close-on-exec from the first moment, so tools that
// other threads start meanwhile never inherit it.
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
#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 34)
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
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

std::int32_t terminationStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return WTERMSIG(status);
    return -1;
}

} // namespace

// The reader-thread side of one run: it waits for both the process's end and the reader's
// close, then posts the exit report to the GUI thread once.
class RunWatch : public QObject {
public:
    using Report = std::function<void(std::int32_t status)>;

    RunWatch(QObject* home, QObject* reportTarget, pid_t pid, int pidfd, int master,
        std::shared_ptr<OutputBuffer> buffer, PTYReader::LineHandler onLine, Report report)
        : QObject(home)
        , m_reportTarget(reportTarget)
        , m_pid(pid)
        , m_report(std::move(report))
    {
        m_reader = new PTYReader(
            master, std::move(buffer), std::move(onLine), [this] { finishIfDone(); }, this);
        m_exitSource = new QSocketNotifier(pidfd, QSocketNotifier::Read, this);
        connect(m_exitSource, &QSocketNotifier::activated, this, [this] { reap(); });
        m_reader->start();
    }

    ~RunWatch() override
    {
        int status = 0;
        if (!m_ended)
            ::waitpid(m_pid, &status, WNOHANG);
    }

private:
    void reap()
    {
        int status = 0;
        const pid_t reaped = ::waitpid(m_pid, &status, WNOHANG);
        if (reaped == 0 || (reaped < 0 && errno == EINTR))
            return;
        // ECHILD: somebody else reaped it (SIGCHLD ignored); the status is lost.
        m_status = reaped == m_pid ? terminationStatus(status) : -1;
        m_ended = true;
        m_exitSource->setEnabled(false);
        m_reader->processExited();
        finishIfDone();
    }

    void finishIfDone()
    {
        if (m_reported || !m_ended || !m_reader->isClosed())
            return;
        m_reported = true;
        QMetaObject::invokeMethod(
            m_reportTarget, [report = std::move(m_report), status = m_status] { report(status); },
            Qt::QueuedConnection);
        deleteLater();
    }

    QObject* m_reportTarget;
    pid_t m_pid;
    Report m_report;
    PTYReader* m_reader;
    QSocketNotifier* m_exitSource;
    std::int32_t m_status = -1;
    bool m_ended = false;
    bool m_reported = false;
};

ScrcpyRunner::ScrcpyRunner(QObject* parent)
    : ScrcpyRunner(StopTimes {}, parent)
{
}

ScrcpyRunner::ScrcpyRunner(StopTimes stopTimes, QObject* parent)
    : QObject(parent)
    , m_stopTimes(stopTimes)
    , m_thread(new QThread)
    , m_readerHome(new QObject)
    , m_output(std::make_shared<OutputBuffer>(kOutputLimit))
{
    m_thread->setObjectName(QStringLiteral("tessaly.scrcpy-output"));
    m_readerHome->moveToThread(m_thread);
    m_thread->start();
}

ScrcpyRunner::~ScrcpyRunner()
{
    stopAndWait();
    // Every run's reader side goes before this object: none can post a report any more,
    // and the reports already posted are dropped with this object.
    QMetaObject::invokeMethod(
        m_readerHome, [home = m_readerHome] { delete home; }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

std::error_code ScrcpyRunner::start(const std::string& executable, const std::vector<std::string>& arguments,
    const Environment& environment, LineHandler onLine, ExitHandler onExit)
{
    if (isRunning())
        return {};
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

    auto run = std::make_shared<Run>(pid, pidfd);
    auto buffer = std::make_shared<OutputBuffer>(kOutputLimit);
    RunWatch::Report report = [this, run, buffer, onExit = std::move(onExit)](
                                  std::int32_t status) { finishRun(run, status, buffer->text(), onExit); };
    QMetaObject::invokeMethod(
        m_readerHome,
        [home = m_readerHome, target = static_cast<QObject*>(this), pid, pidfd, fd = master.release(), buffer,
            onLine = std::move(onLine), report = std::move(report)]() mutable {
            new RunWatch(home, target, pid, pidfd, fd, buffer, std::move(onLine), std::move(report));
        },
        Qt::QueuedConnection);
    m_output = buffer;
    m_process = run;
    return {};
}

void ScrcpyRunner::finishRun(const std::shared_ptr<Run>& run, std::int32_t status, const std::string& output,
    const ExitHandler& onExit)
{
    const bool stoppedByUser = run->stoppedByUser;
    // A newer run may have started since this one's process ended; it stays.
    if (m_process == run)
        m_process.reset();
    if (onExit)
        onExit(status, output, stoppedByUser);
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
