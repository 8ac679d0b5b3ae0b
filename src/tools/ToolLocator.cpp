#include "tools/ToolLocator.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaly::ToolLocator {

namespace {

using Candidate = std::pair<std::string, std::vector<std::string>>;

std::optional<std::string> realPath(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// The folder as the resolved paths of its contents will spell it, without a final "/"
// ("" for the file-system root).
std::string base(const std::string& folder)
{
    std::string resolved = realPath(folder).value_or(folder);
    while (!resolved.empty() && resolved.back() == '/')
        resolved.pop_back();
    return resolved;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool lockedDown(const struct stat& info, uid_t owner)
{
    return info.st_uid == owner && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool lockedDown(const std::string& path, uid_t owner, bool directory)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return false;
    if (directory ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode))
        return false;
    return lockedDown(info, owner);
}

bool everyEntryLockedDown(const std::string& folder, uid_t owner)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return false;
    bool locked = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat info { };
        if (::stat((folder + "/" + std::string(name)).c_str(), &info) != 0 || !lockedDown(info, owner)) {
            locked = false;
            break;
        }
    }
    ::closedir(dir);
    return locked;
}

std::optional<std::string> firstTrusted(const std::vector<Candidate>& candidates)
{
    for (const auto& [path, prefixes] : candidates) {
        if (auto accepted = verifiedExecutable(path, prefixes))
            return accepted;
    }
    return std::nullopt;
}

// Entry names of `folder`, highest version first; none when it cannot be listed.
std::vector<std::string> versionsDescending(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return versionLess(b, a); });
    return names;
}

// A snap's command is a link in /snap/bin to the one snap launcher, which picks the snap by the
// name it was started as: so it is run by that name, once the launcher and the folder of
// commands are the system's.
std::optional<std::string> snapCommand(const std::string& root, const std::string& name, uid_t owner)
{
    const std::string folder = root + "/snap/bin";
    const std::string command = folder + "/" + name;
    const auto launcher = verifiedExecutable(command, { root + "/usr/bin/", root + "/usr/lib/snapd/" });
    if (!launcher || !lockedDown(*launcher, owner, false) || !lockedDown(folder, owner, true))
        return std::nullopt;
    return command;
}

} // namespace

Places Places::system()
{
    Places places;
    if (const char* home = std::getenv("HOME"))
        places.home = home;
    if (auto executable = realPath("/proc/self/exe"))
        places.installPrefix = std::filesystem::path(*executable).parent_path().parent_path().string();
    return places;
}

BuiltInTools BuiltInTools::at(const Places& places)
{
    BuiltInTools tools;
    tools.requiredOwner = places.requiredOwner;
    if (places.installPrefix.empty())
        return tools;
    const std::string prefix = base(places.installPrefix);
    tools.helpers = base(prefix + "/libexec/tessaly");
    tools.engineFiles = base(prefix + "/share/tessaly/engine");
    tools.usable = lockedDown(tools.helpers, places.requiredOwner, true)
        && everyEntryLockedDown(tools.helpers, places.requiredOwner);
    return tools;
}

std::optional<std::string> BuiltInTools::tool(const std::string& name) const
{
    if (!usable || name.empty() || name.find('/') != std::string::npos)
        return std::nullopt;
    auto accepted = verifiedExecutable(helpers + "/" + name, { helpers + "/" });
    if (!accepted || !lockedDown(*accepted, requiredOwner, false))
        return std::nullopt;
    return accepted;
}

std::map<std::string, std::string> BuiltInTools::environment() const
{
    if (!tool("scrcpy"))
        return {};
    const std::string server = engineFiles + "/scrcpy-server";
    if (!lockedDown(engineFiles, requiredOwner, true) || !lockedDown(server, requiredOwner, false))
        return {};
    return { { "SCRCPY_SERVER_PATH", server }, { "SCRCPY_ICON_DIR", engineFiles } };
}

std::optional<std::string> verifiedExecutable(
    const std::string& path, const std::vector<std::string>& allowedPrefixes)
{
    const auto resolved = realPath(path);
    if (!resolved)
        return std::nullopt;
    const bool allowed = std::any_of(allowedPrefixes.begin(), allowedPrefixes.end(), [&](std::string prefix) {
        if (prefix.empty())
            return false;
        if (prefix.back() != '/')
            prefix.push_back('/');
        return startsWith(*resolved, prefix);
    });
    if (!allowed)
        return std::nullopt;
    struct stat info { };
    if (::stat(resolved->c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    if (::access(resolved->c_str(), X_OK) != 0)
        return std::nullopt;
    if ((info.st_mode & S_IWOTH) != 0)
        return std::nullopt;
    return resolved;
}

std::vector<std::string> adbCandidates(const Places& places)
{
    std::vector<std::string> found;
    if (auto own = BuiltInTools::at(places).tool("adb"))
        found.push_back(*own);
    const std::string root = base(places.root);
    // Debian links /usr/bin/adb into /usr/lib/android-sdk. /opt belongs to root, so only the
    // administrator or a package (Arch's android-sdk-platform-tools) puts an SDK there.
    std::vector<Candidate> candidates = {
        { root + "/usr/bin/adb", { root + "/usr/bin/", root + "/usr/lib/" } },
        { root + "/usr/local/bin/adb", { root + "/usr/local/" } },
    };
    if (!places.home.empty()) {
        // Android Studio's default SDK folder.
        const std::string home = base(places.home);
        candidates.push_back({ home + "/Android/Sdk/platform-tools/adb", { home + "/Android/Sdk/" } });
    }
    candidates.push_back({ root + "/opt/android-sdk/platform-tools/adb", { root + "/opt/android-sdk/" } });
    for (const auto& [path, prefixes] : candidates) {
        auto accepted = verifiedExecutable(path, prefixes);
        if (accepted && std::find(found.begin(), found.end(), *accepted) == found.end())
            found.push_back(std::move(*accepted));
    }
    return found;
}

std::optional<std::string> findADB(const Places& places)
{
    const std::vector<std::string> found = adbCandidates(places);
    return found.empty() ? std::nullopt : std::optional(found.front());
}

std::optional<std::string> findScrcpy(const Places& places)
{
    const BuiltInTools tools = BuiltInTools::at(places);
    if (auto own = tools.tool("scrcpy"))
        return own;
    const std::string root = base(places.root);
    // A scrcpy installed on purpose (into /usr/local, as a snap, with Homebrew) is newer than the
    // distribution's, which other packages may keep installed: it wins over /usr/bin.
    if (auto local = verifiedExecutable(root + "/usr/local/bin/scrcpy", { root + "/usr/local/" }))
        return local;
    if (auto snap = snapCommand(root, "scrcpy", places.requiredOwner))
        return snap;
    const std::string brew = root + "/home/linuxbrew/.linuxbrew";
    std::vector<Candidate> candidates = { { brew + "/bin/scrcpy", { brew + "/" } } };
    for (const std::string& version : versionsDescending(brew + "/Cellar/scrcpy"))
        candidates.push_back({ brew + "/Cellar/scrcpy/" + version + "/bin/scrcpy", { brew + "/" } });
    candidates.push_back({ root + "/usr/bin/scrcpy", { root + "/usr/" } });
    return firstTrusted(candidates);
}

std::optional<std::string> findPing(const Places& places)
{
    const std::string root = base(places.root);
    return verifiedExecutable(root + "/usr/bin/ping", { root + "/usr/bin/" });
}

const BuiltInTools& builtIn()
{
    static const BuiltInTools tools = BuiltInTools::at(Places::system());
    return tools;
}

const std::map<std::string, std::string>& builtInEnvironment()
{
    static const std::map<std::string, std::string> environment = builtIn().environment();
    return environment;
}

bool versionLess(const std::string& a, const std::string& b)
{
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            while (i + 1 < endA && a[i] == '0')
                ++i;
            while (j + 1 < endB && b[j] == '0')
                ++j;
            const std::string_view numberA(a.data() + i, endA - i);
            const std::string_view numberB(b.data() + j, endB - j);
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size();
            if (numberA != numberB)
                return numberA < numberB;
            i = endA;
            j = endB;
            continue;
        }
        const int lowerA = std::tolower(static_cast<unsigned char>(a[i]));
        const int lowerB = std::tolower(static_cast<unsigned char>(b[j]));
        if (lowerA != lowerB)
            return lowerA < lowerB;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return j < b.size() && i >= a.size();
    return a < b;
}

} // namespace tessaly::ToolLocator
