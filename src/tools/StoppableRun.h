#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoroTask>

#include "tools/ProcessRunner.h"

namespace tessaly {

// Tool runs that the user can call off: once stop() is called, the run under way is ended
// and every later run through this object ends as soon as it starts. One object serves one
// attempt at something; a new attempt takes a new object.
class StoppableRun {
public:
    StoppableRun();
    ~StoppableRun();
    StoppableRun(const StoppableRun&) = delete;
    StoppableRun& operator=(const StoppableRun&) = delete;

    // As ProcessRunner::run, with the default output limit; the awaiting coroutine resumes on its
    // own thread. A run that was stopped reports exit status -1 with "Stopped." in stderr.
    QCoro::Task<ProcessResult> run(std::string executable, std::vector<std::string> arguments,
        Environment environment, double timeoutSeconds, std::optional<std::string> input = std::nullopt);

    // Safe from any thread; the run may still be finishing when this returns.
    void stop();
    bool stopped() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace tessaly
