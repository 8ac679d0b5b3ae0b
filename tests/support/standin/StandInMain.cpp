// The stand-in tool itself: copied next to its answer table as <folder>/<name>, it records
// its arguments and plays the scripted answer. Plain POSIX and raw writes, so output order
// and timing are exactly as scripted, on pipes and pseudo-terminals alike.

#include "support/standin/StandInFormat.h"
#include "support/standin/StandInPhone.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

extern char** environ;

namespace {

using tessaly::test::StandInTool;
namespace standin = tessaly::test::standin;

std::string ownPath()
{
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    path.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return path;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd wait { fd, POLLOUT, 0 };
                ::poll(&wait, 1, -1);
                continue;
            }
            return false;
        }
        data += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

void sleepFor(double seconds)
{
    if (!(seconds > 0))
        return;
    timespec until {};
    ::clock_gettime(CLOCK_MONOTONIC, &until);
    const auto whole = static_cast<time_t>(seconds);
    until.tv_sec += whole;
    until.tv_nsec += static_cast<long>((seconds - static_cast<double>(whole)) * 1e9);
    if (until.tv_nsec >= 1'000'000'000) {
        until.tv_sec += 1;
        until.tv_nsec -= 1'000'000'000;
    }
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) { }
}

void recordCall(const std::string& executable, const std::vector<std::string>& arguments)
{
    const int fd
        = ::open(standin::callsPath(executable).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    ::flock(fd, LOCK_EX);
    const std::string record = standin::callRecord(arguments);
    writeAll(fd, record.data(), record.size());
    ::close(fd);
}

// The how-many-th call of a sequence rule this is, counted across concurrent calls.
std::size_t nextInSequence(const std::string& executable, std::uint64_t ruleId)
{
    const int fd
        = ::open(standin::counterPath(executable, ruleId).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    ::flock(fd, LOCK_EX);
    char text[32] = {};
    const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
    const std::size_t seen = length > 0 ? std::strtoull(text, nullptr, 10) : 0;
    const std::string next = std::to_string(seen + 1);
    ::pwrite(fd, next.data(), next.size(), 0);
    ::close(fd);
    return seen;
}

// The rule that answers, or none; `scriptedOnly` leaves out the catch-all.
const standin::Rule* findRule(
    const std::vector<standin::Rule>& rules, const std::vector<std::string>& arguments, bool scriptedOnly)
{
    const standin::Rule* chosen = nullptr;
    for (const standin::Rule& rule : rules) {
        if (rule.kind == 'E' && rule.arguments == arguments) {
            chosen = &rule;
            break;
        }
    }
    for (const standin::Rule& rule : rules) {
        if (chosen == nullptr && rule.kind == 'P' && rule.arguments.size() <= arguments.size()
            && std::equal(rule.arguments.begin(), rule.arguments.end(), arguments.begin()))
            chosen = &rule;
    }
    for (const standin::Rule& rule : rules) {
        if (chosen == nullptr && !scriptedOnly && rule.kind == 'O')
            chosen = &rule;
    }
    return chosen;
}

StandInTool::Answer pick(const std::string& executable, const std::vector<std::string>& arguments)
{
    const std::vector<standin::Rule> rules
        = standin::readTable(standin::readFile(standin::tablePath(executable)));
    const standin::Rule* chosen = findRule(rules, arguments, false);
    if (chosen == nullptr)
        return {};
    if (chosen->answers.size() == 1)
        return chosen->answers.front();
    const std::size_t index = nextInSequence(executable, chosen->id);
    return chosen->answers[std::min(index, chosen->answers.size() - 1)];
}

} // namespace

int main(int argc, char** argv)
{
    const std::string executable = ownPath();
    const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
    recordCall(executable, arguments);
    if (const auto phone = standin::readPhone(executable)) {
        const std::vector<standin::Rule> rules
            = standin::readTable(standin::readFile(standin::tablePath(executable)));
        if (findRule(rules, arguments, true) == nullptr) {
            standin::PhonePlayer player(executable, *phone, sleepFor);
            if (const int status = player.play(arguments); status >= 0)
                _exit(status);
        }
    }
    const StandInTool::Answer answer = pick(executable, arguments);

    std::signal(SIGTERM, answer.ignoreSigterm ? SIG_IGN : SIG_DFL);
    std::signal(SIGINT, answer.ignoreSigint ? SIG_IGN : SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);

    writeAll(STDOUT_FILENO, answer.out.data(), answer.out.size());
    writeAll(STDERR_FILENO, answer.err.data(), answer.err.size());
    if (answer.printEnvironment) {
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string line = std::string(*entry) + "\n";
            writeAll(STDOUT_FILENO, line.data(), line.size());
        }
    }
    for (const StandInTool::Chunk& chunk : answer.chunks) {
        sleepFor(chunk.delayBefore);
        const int fd = chunk.toStderr ? STDERR_FILENO : STDOUT_FILENO;
        for (std::size_t i = 0; i < chunk.repeat; ++i) {
            if (!writeAll(fd, chunk.text.data(), chunk.text.size()))
                break;
        }
    }
    if (answer.backgroundChildSeconds > 0 && ::fork() == 0) {
        // Like a server started by the tool: keeps the inherited output open after the tool ends.
        sleepFor(answer.backgroundChildSeconds);
        _exit(0);
    }
    sleepFor(answer.delay);
    if (answer.raiseSignal > 0) {
        std::signal(answer.raiseSignal, SIG_DFL);
        ::raise(answer.raiseSignal);
    }
    _exit(answer.exitCode & 0xFF);
}
