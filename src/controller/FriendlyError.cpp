#include "controller/FriendlyError.h"

#include <utility>

#include "mirroring/ScrcpyCommandLine.h"

namespace tessaly {

namespace {

// Where Linux users get a newer scrcpy than their distribution's; Tessaly prefers these places
// over /usr/bin, so the packaged one can stay.
const char* const kNewerScrcpyAdvice
    = "Get a newer scrcpy in one of these ways, then quit and reopen Tessaly:\n"
      "• your distribution’s newer release,\n"
      "• the snap: sudo snap install scrcpy\n"
      "• the static build from scrcpy’s releases page, unpacked into /usr/local\n"
      "• Homebrew on Linux: brew install scrcpy";

std::string named(const std::string& version)
{
    return version.empty() ? "This scrcpy" : "scrcpy " + version;
}

} // namespace

std::string FriendlyError::detailsOrSummary() const
{
    if (!details.empty())
        return details;
    return title + "\n\n" + advice;
}

FriendlyError FriendlyError::loginItemFailed(std::string reason)
{
    return FriendlyError {
        "Couldn’t change “Launch at login”.",
        "Make sure your autostart folder (~/.config/autostart) can be written, then try again.",
        std::move(reason),
    };
}

FriendlyError FriendlyError::scrcpyRefusedOption(
    const std::string& option, const std::string& version, std::string output)
{
    return { named(version) + " doesn’t accept the option “" + option + "”.", kNewerScrcpyAdvice,
        std::move(output) };
}

FriendlyError FriendlyError::scrcpyTooOld(const std::string& version, const std::vector<std::string>& missing)
{
    std::string lacking;
    for (const std::string& option : missing)
        lacking += (lacking.empty() ? "" : ", ") + option;
    return { named(version) + " is too old to mirror with Tessaly.",
        std::string("Tessaly needs scrcpy ") + ScrcpyCommandLine::kOldestUsable + " or later.\n"
            + kNewerScrcpyAdvice,
        "This scrcpy has none of these options: " + lacking };
}

} // namespace tessaly
