#include "tools/StoppableRun.h"

#include <csignal>
#include <mutex>

#include <sys/syscall.h>
#include <unistd.h>

#include <QCoroFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace tessaly {

struct StoppableRun::Shared {
    std::mutex lock;
    // A pidfd rather than the process id: signalling it can never reach a recycled id.
    int pidFd = -1;
    bool stopped = false;

    void signalLocked() const
    {
        if (pidFd >= 0)
            ::syscall(SYS_pidfd_send_signal, pidFd, SIGTERM, nullptr, 0);
    }
};

StoppableRun::StoppableRun()
    : m_shared(std::make_shared<Shared>())
{
}

StoppableRun::~StoppableRun() = default;

void StoppableRun::stop()
{
    const std::lock_guard guard(m_shared->lock);
    m_shared->stopped = true;
    m_shared->signalLocked();
}

bool StoppableRun::stopped() const
{
    const std::lock_guard guard(m_shared->lock);
    return m_shared->stopped;
}

QCoro::Task<ProcessResult> StoppableRun::run(std::string executable, std::vector<std::string> arguments,
    Environment environment, double timeoutSeconds)
{
    std::shared_ptr<Shared> shared = m_shared;
    if (stopped()) {
        ProcessResult none;
        none.exitCode = -1;
        none.stdErr = "Stopped.";
        co_return none;
    }
    // Runs block a pool thread for their whole time limit; the global pool keeps one per core, so
    // these get a few of their own.
    static QThreadPool pool;
    static const bool sized = [] {
        pool.setMaxThreadCount(4);
        return true;
    }();
    (void)sized;
    QFuture<ProcessResult> future = QtConcurrent::run(&pool,
        [shared, executable = std::move(executable), arguments = std::move(arguments),
            environment = std::move(environment), timeoutSeconds]() {
            const auto onStart = [&shared](pid_t pid) {
                const std::lock_guard guard(shared->lock);
                shared->pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
                if (shared->stopped)
                    shared->signalLocked();
            };
            ProcessResult result;
            try {
                result = ProcessRunner::runBlocking(executable, arguments, environment, timeoutSeconds,
                    ProcessRunner::kDefaultOutputLimit, onStart);
            } catch (const std::exception& error) {
                result.exitCode = -1;
                result.stdErr = error.what();
            }
            const std::lock_guard guard(shared->lock);
            if (shared->pidFd >= 0)
                ::close(shared->pidFd);
            shared->pidFd = -1;
            if (shared->stopped) {
                result.exitCode = -1;
                result.stdErr = "Stopped.";
            }
            return result;
        });
    co_return co_await future;
}

} // namespace tessaly
