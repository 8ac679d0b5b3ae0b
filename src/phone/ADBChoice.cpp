#include "phone/ADBChoice.h"

#include <future>

#include "phone/ADBPairing.h"
#include "tools/ToolAnswers.h"

namespace tessaly::ADBChoice {

std::optional<std::string> newest(const std::vector<Candidate>& candidates)
{
    const Candidate* best = nullptr;
    for (const Candidate& candidate : candidates) {
        if (!best
            || (candidate.version
                && (!best->version || ToolLocator::versionLess(*best->version, *candidate.version))))
            best = &candidate;
    }
    return best ? std::optional(best->path) : std::nullopt;
}

std::optional<std::string> version(const std::string& adb)
{
    const ProcessResult answer = ToolAnswers::ask(adb, { "version" }, ProcessRunner::safeEnvironment(adb));
    auto found = ADBPairing::parseVersion(answer.stdOut);
    // Only a version that begins with its number can be compared.
    return found && ADBPairing::versionCanPair(*found).has_value() ? found : std::nullopt;
}

std::optional<std::string> choose(const ToolLocator::Places& places)
{
    const std::vector<std::string> paths = ToolLocator::adbCandidates(places);
    if (paths.size() < 2)
        return paths.empty() ? std::nullopt : std::optional(paths.front());
    // Side by side, so that start-up waits for the slowest answer only.
    std::vector<std::future<std::optional<std::string>>> versions;
    for (const std::string& path : paths)
        versions.push_back(std::async(std::launch::async, [path] { return version(path); }));
    std::vector<Candidate> candidates;
    for (std::size_t i = 0; i < paths.size(); ++i)
        candidates.push_back({ paths[i], versions[i].get() });
    return newest(candidates);
}

} // namespace tessaly::ADBChoice
