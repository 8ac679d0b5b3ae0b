#include "tools/StoppableRun.h"

#include <csignal>
#include <mutex>

#include <QCoroFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace tessaly {

struct StoppableRun::Shared {
    std::mutex lock;
    RunHandle handle;
    bool stopped = false;

    void signalLocked() const
    {
        if (handle.valid())
            handle.terminate();
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
    Environment environment, double timeoutSeconds, std::optional<std::string> input)
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
            environment = std::move(environment), timeoutSeconds, input = std::move(input)]() {
            const auto onStart = [&shared](const RunHandle& handle) {
                const std::lock_guard guard(shared->lock);
                shared->handle = handle;
                if (shared->stopped)
                    shared->signalLocked();
            };
            ProcessResult result;
            try {
                result = ProcessRunner::runBlocking(executable, arguments, environment, timeoutSeconds,
                    ProcessRunner::kDefaultOutputLimit, onStart, ProcessRunner::kGraceSeconds,
                    ProcessRunner::Trim::ends, input);
            } catch (const std::exception& error) {
                result.exitCode = -1;
                result.stdErr = error.what();
            }
            const std::lock_guard guard(shared->lock);
            shared->handle = RunHandle();
            if (shared->stopped) {
                result.exitCode = -1;
                result.stdErr = "Stopped.";
            }
            return result;
        });
    co_return co_await future;
}

} // namespace tessaly
