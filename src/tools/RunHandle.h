#pragma once

#include <memory>

#include <sys/types.h>

namespace tessaly {

// The stop handle of one started tool run. It names the child through a pidfd, so a
// signal can only ever reach that child: once the run has ended, `signal` does nothing,
// even if the system has handed the process number to someone else meanwhile.
// Copies share one state; any thread may signal.
class RunHandle {
public:
    RunHandle() = default;

    // Takes the child `pid`; `pidfd` (owned from here on) may be -1 when the system has none.
    static RunHandle adopt(pid_t pid, int pidfd);

    // True when the signal was delivered to the still-running child.
    bool signal(int number) const;
    bool terminate() const;
    bool valid() const { return m_state != nullptr; }
    pid_t pid() const;
    int pidfd() const;

    // Called by the runner before it reaps the child: from then on no signal goes out.
    void markEnded() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace tessaly
