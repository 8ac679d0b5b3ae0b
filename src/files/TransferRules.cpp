#include "files/TransferRules.h"

#include <algorithm>

#include <QString>

#include "tools/Text.h"

namespace tessaly::TransferRules {

std::string foldCase(const std::string& name)
{
    // Plain ASCII is by far the common case and needs no conversion.
    if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return asciiLowercase(name);
    return QString::fromStdString(name).toCaseFolded().toStdString();
}

std::string freeName(const std::string& name, std::set<std::string>& taken)
{
    std::string chosen = name;
    if (taken.count(foldCase(name)) != 0) {
        const auto dot = name.rfind('.');
        const bool hasExtension = dot != std::string::npos && dot != 0;
        const std::string base = hasExtension ? name.substr(0, dot) : name;
        const std::string extension = hasExtension ? name.substr(dot) : std::string();
        for (long long n = 2;; ++n) {
            chosen = base + " (" + std::to_string(n) + ")" + extension;
            if (taken.count(foldCase(chosen)) == 0)
                break;
        }
    }
    taken.insert(foldCase(chosen));
    return chosen;
}

namespace {
constexpr std::string_view kPartialEnd = ".tessaly-partial";
constexpr std::size_t kLongestName = 255;
} // namespace

std::string partialName(const std::string& name)
{
    std::size_t keep = std::min(name.size(), kLongestName - 1 - kPartialEnd.size());
    // Never cut a UTF-8 sequence in two.
    while (keep < name.size() && keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return "." + name.substr(0, keep) + std::string(kPartialEnd);
}

bool isPartialName(std::string_view name)
{
    return name.size() > 1 + kPartialEnd.size() && name.starts_with('.') && name.ends_with(kPartialEnd);
}

std::string counter(std::size_t index, std::size_t count)
{
    if (count < 2)
        return {};
    return " (" + std::to_string(index + 1) + " of " + std::to_string(count) + ")";
}

double timeLimit(std::optional<std::int64_t> fileSize)
{
    if (!fileSize || *fileSize < 0)
        return 7200;
    return std::min(static_cast<double>(*fileSize) / 100000.0 + 120.0, 14400.0);
}

std::string lastLine(const std::string& text)
{
    std::size_t end = text.size();
    while (end > 0) {
        const auto start = text.rfind('\n', end - 1);
        const std::size_t from = start == std::string::npos ? 0 : start + 1;
        std::string line = text.substr(from, end - from);
        if (line.find_first_not_of(" \t\r\f\v") != std::string::npos)
            return line;
        if (start == std::string::npos)
            break;
        end = start;
    }
    return {};
}

std::string reason(const ProcessResult& result)
{
    const std::string printed = result.combinedOutput();
    const std::string output = asciiLowercase(printed);
    const auto has = [&](std::string_view phrase) { return output.find(phrase) != std::string::npos; };
    const bool denied = has("permission denied") || has("not permitted");
    if (result.timedOut)
        return "it took too long and was stopped";
    if (has("no space left"))
        return "there isn't enough free space";
    if (denied && has("remote"))
        return "the phone doesn't allow using that folder";
    if (has("operation not permitted"))
        return "the system blocked that folder (check its permissions)";
    if (denied)
        return "that folder can't be used";
    if (has("device offline") || has("no devices") || has("connection reset")
        || (has("device") && has("not found")) || output.ends_with("closed"))
        return "the phone was disconnected";
    if (has("does not exist") || has("no such file"))
        return "it is no longer there";
    std::string line = lastLine(printed);
    if (line.empty())
        return "adb gave no reason";
    static const std::string prefix = "adb: error: ";
    for (auto at = line.find(prefix); at != std::string::npos; at = line.find(prefix))
        line.erase(at, prefix.size());
    return line;
}

} // namespace tessaly::TransferRules
