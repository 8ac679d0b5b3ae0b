#include "mirroring/ScrcpyCapabilityCache.h"

#include <cstdlib>
#include <map>
#include <tuple>

#include <sys/stat.h>

namespace tessaly {

namespace {

// What makes two runs of a path the same executable.
using Identity = std::tuple<std::string, dev_t, ino_t, off_t, long long, long, std::string>;

std::string realPath(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// A snap command is a link to the one snap launcher, whose file does not change when the snap
// is updated; the revision folder that "current" points at does.
std::string snapRevision(const std::string& executable)
{
    constexpr std::string_view kSnapBin = "/snap/bin/";
    const std::size_t at = executable.rfind(kSnapBin);
    if (at == std::string::npos)
        return {};
    const std::string name = executable.substr(at + kSnapBin.size());
    if (name.empty() || name.find('/') != std::string::npos)
        return {};
    return realPath(executable.substr(0, at) + "/snap/" + name + "/current");
}

std::optional<Identity> identity(const std::string& executable)
{
    struct stat info { };
    if (::stat(executable.c_str(), &info) != 0)
        return std::nullopt;
    return Identity { executable, info.st_dev, info.st_ino, info.st_size, info.st_ctim.tv_sec,
        info.st_ctim.tv_nsec, snapRevision(executable) };
}

} // namespace

struct ScrcpyCapabilityCache::Store {
    std::map<Identity, ScrcpyCapabilities> known;
};

ScrcpyCapabilityCache::ScrcpyCapabilityCache()
    : m_store(std::make_shared<Store>())
{
}

QCoro::Task<ScrcpyCapabilities> ScrcpyCapabilityCache::capabilities(
    std::string executable, Environment environment)
{
    const std::shared_ptr<Store> store = m_store;
    const std::optional<Identity> key = identity(executable);
    if (key) {
        if (const auto found = store->known.find(*key); found != store->known.end())
            co_return found->second;
    }
    std::vector<std::string> arguments { "--help" };
    const ProcessResult result = co_await ProcessRunner::run(
        std::move(executable), std::move(arguments), std::move(environment), kHelpLimit);
    if (result.timedOut || result.exitCode < 0)
        co_return ScrcpyCapabilities {};
    ScrcpyCapabilities capabilities = ScrcpyCapabilities::fromHelp(result.stdOut);
    if (key)
        store->known[*key] = capabilities;
    co_return capabilities;
}

} // namespace tessaly
