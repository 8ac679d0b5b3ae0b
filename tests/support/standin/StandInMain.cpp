// The stand-in tool itself: copied next to its answer table as <folder>/<name>, it records
// its arguments and plays the scripted answer. Plain POSIX and raw writes, so output order
// and timing are exactly as scripted, on pipes and pseudo-terminals alike.

#include "support/standin/StandInFormat.h"
#include "support/standin/StandInPhone.h"
#include "support/standin/StandInScrcpy.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
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
    if (seconds > 0) // sleep_for resumes after a signal
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// The file beside this executable with that ending, opened for appending or counting.
int openBeside(const std::string& executable, const std::string& ending)
{
    return ::open((executable + ending).c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
}

void record(const std::string& executable, const std::string& ending, std::vector<std::string> arguments)
{
    const int fd = openBeside(executable, ending);
    ::flock(fd, LOCK_EX);
    const std::string record = standin::encode(std::move(arguments));
    writeAll(fd, record.data(), record.size());
    ::close(fd);
}

// The how-many-th call of a sequence rule this is, counted across concurrent calls.
std::size_t nextInSequence(const std::string& executable, std::uint64_t ruleId)
{
    const int fd = openBeside(executable, ".sequence-" + std::to_string(ruleId));
    ::flock(fd, LOCK_EX);
    const std::size_t seen = standin::readAll(fd).size();
    writeAll(fd, "+", 1);
    ::close(fd);
    return seen;
}

// The exact rule for these arguments, else the first prefix rule, else (unless `scriptedOnly`)
// the catch-all.
const standin::Rule* findRule(
    const std::vector<standin::Rule>& rules, const std::vector<std::string>& arguments, bool scriptedOnly)
{
    const auto find = [&](auto matches) {
        const auto rule = std::find_if(rules.begin(), rules.end(), matches);
        return rule == rules.end() ? nullptr : &*rule;
    };
    const standin::Rule* chosen
        = find([&](const standin::Rule& rule) { return rule.kind == 'E' && rule.arguments == arguments; });
    chosen = chosen ? chosen : find([&](const standin::Rule& rule) {
        return rule.kind == 'P' && rule.arguments.size() <= arguments.size()
            && std::equal(rule.arguments.begin(), rule.arguments.end(), arguments.begin());
    });
    return chosen || scriptedOnly ? chosen : find([](const standin::Rule& rule) { return rule.kind == 'O'; });
}

} // namespace

int main(int argc, char** argv)
{
    const std::string executable = ownPath();
    const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
    record(executable, ".calls", arguments);
    const auto rules = standin::decode<std::vector<standin::Rule>>(standin::readFile(executable + ".answers"))
                           .value_or(std::vector<standin::Rule> {});
    if (const auto phone = standin::decode<standin::Phone>(standin::readFile(executable + ".phone"));
        phone && !findRule(rules, arguments, true)) {
        standin::PhonePlayer player(executable, *phone);
        if (const int status = player.play(arguments); status >= 0)
            _exit(status);
    }
    // A refused option wins over any scripted answer, as the real tool parses before it acts.
    if (const auto release = standin::decode<standin::Scrcpy>(standin::readFile(executable + ".scrcpy"))) {
        const auto reply = standin::scrcpyReply(*release, arguments);
        if (reply && (reply->status != 0 || !findRule(rules, arguments, true))) {
            writeAll(STDOUT_FILENO, reply->out.data(), reply->out.size());
            writeAll(STDERR_FILENO, reply->err.data(), reply->err.size());
            _exit(reply->status);
        }
    }
    StandInTool::Answer answer;
    if (const standin::Rule* chosen = findRule(rules, arguments, false); chosen && !chosen->answers.empty()) {
        const std::size_t last = chosen->answers.size() - 1;
        answer = chosen->answers[last == 0 ? 0 : std::min(nextInSequence(executable, chosen->id), last)];
    }

    std::signal(SIGTERM, answer.ignoreSigterm ? SIG_IGN : SIG_DFL);
    std::signal(SIGINT, answer.ignoreSigint ? SIG_IGN : SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);

    std::vector<StandInTool::Chunk> chunks { { answer.out }, { answer.err, true } };
    for (char** entry = environ; answer.printEnvironment && *entry != nullptr; ++entry)
        chunks.push_back({ std::string(*entry) + "\n" });
    chunks.insert(chunks.end(), answer.chunks.begin(), answer.chunks.end());
    for (const StandInTool::Chunk& chunk : chunks) {
        sleepFor(chunk.delayBefore);
        const int fd = chunk.toStderr ? STDERR_FILENO : STDOUT_FILENO;
        for (std::size_t i = 0; i < chunk.repeat; ++i) {
            if (!writeAll(fd, chunk.text.data(), chunk.text.size()))
                break;
        }
    }
    if (answer.readsInput)
        record(executable, ".inputs", { standin::readAll(STDIN_FILENO) });
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
