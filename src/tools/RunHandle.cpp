#include "tools/RunHandle.h"

#include <csignal>
#include <mutex>

#include <sys/syscall.h>
#include <unistd.h>

namespace tessaly {

struct RunHandle::State {
    pid_t pid = -1;
    int pidfd = -1;
    // Held while signalling and while marking the end, so the runner cannot reap the child
    // (freeing its number) between the check and a plain kill().
    std::mutex lock;
    bool ended = false;

    ~State()
    {
        if (pidfd >= 0)
            ::close(pidfd);
    }
};

RunHandle RunHandle::adopt(pid_t pid, int pidfd)
{
    RunHandle handle;
    handle.m_state = std::make_shared<State>();
    handle.m_state->pid = pid;
    handle.m_state->pidfd = pidfd;
    return handle;
}

bool RunHandle::signal(int number) const
{
    if (!m_state)
        return false;
    const std::lock_guard guard(m_state->lock);
    if (m_state->ended)
        return false;
    if (m_state->pidfd >= 0)
        return ::syscall(SYS_pidfd_send_signal, m_state->pidfd, number, nullptr, 0) == 0;
    return ::kill(m_state->pid, number) == 0;
}

bool RunHandle::terminate() const
{
    return signal(SIGTERM);
}

pid_t RunHandle::pid() const
{
    return m_state ? m_state->pid : -1;
}

int RunHandle::pidfd() const
{
    return m_state ? m_state->pidfd : -1;
}

void RunHandle::markEnded() const
{
    if (!m_state)
        return;
    const std::lock_guard guard(m_state->lock);
    m_state->ended = true;
}

} // namespace tessaly
