#include "phone/ADBPairing.h"

#include <algorithm>
#include <charconv>

#include "tools/Text.h"

namespace tessaly::ADBPairing {

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace

std::string qrText(std::string_view name, std::string_view password)
{
    std::string text = "WIFI:T:ADB;S:";
    text += name;
    text += ";P:";
    text += password;
    text += ";;";
    return text;
}

std::optional<std::string> parseVersion(std::string_view output)
{
    // Android Debug Bridge version 1.0.41
    // Version 29.0.6-debian
    // Installed as /usr/lib/android-sdk/platform-tools/adb
    constexpr std::string_view prefix = "Version ";
    std::size_t start = 0;
    while (start <= output.size()) {
        const std::size_t end = std::min(output.find('\n', start), output.size());
        const std::string_view line = trimmed(output.substr(start, end - start));
        if (line.starts_with(prefix)) {
            const std::string_view version = trimmed(line.substr(prefix.size()));
            if (!version.empty() && version.find(' ') == std::string_view::npos)
                return std::string(version);
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<bool> versionCanPair(std::string_view version)
{
    int major = 0;
    const char* end = version.data() + version.size();
    const auto [rest, error] = std::from_chars(version.data(), end, major);
    if (error != std::errc() || rest == version.data() || (rest != end && *rest != '.'))
        return std::nullopt;
    return major >= kFirstPairingVersion;
}

bool isUnknownCommand(std::string_view output)
{
    const std::string lower = asciiLowercase(output);
    return lower.find("unknown command") != std::string::npos
        || lower.find("\nglobal options:\n") != std::string::npos;
}

bool pairSucceeded(std::string_view output)
{
    return asciiLowercase(output).find("successfully paired") != std::string::npos;
}

std::string withoutSecret(std::string text, std::string_view secret)
{
    if (secret.empty())
        return text;
    constexpr std::string_view mask = "••••••";
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + mask.size()))
        text.replace(at, secret.size(), mask);
    return text;
}

} // namespace tessaly::ADBPairing
