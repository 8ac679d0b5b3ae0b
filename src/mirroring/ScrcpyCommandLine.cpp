#include "mirroring/ScrcpyCommandLine.h"

#include <array>
#include <string_view>
#include <utility>

namespace tessaly {

namespace {

// Where an option of a current scrcpy went in older releases.
struct OlderName {
    std::string_view current, older;
};
constexpr std::array<OlderName, 3> kOlderNames { {
    { "video-bit-rate", "bit-rate" },
    { "video-codec-options", "codec-options" },
    { "video-encoder", "encoder" },
} };

// Options that only tune the session: without them, mirroring is what the user asked for.
// (Before "--video-codec" every scrcpy sent H.264, the one codec asked for.)
constexpr std::array<std::string_view, 7> kTuning {
    "no-terminal-title",
    "keep-active",
    "no-mouse-hover",
    "video-codec",
    "video-codec-options",
    "video-encoder",
    "no-audio",
};

// Options mirroring cannot do without, each with the name it may have instead.
constexpr std::array<OlderName, 9> kEssentials { {
    { "window-title", "" },
    { "force-adb-forward", "" },
    { "max-size", "" },
    { "max-fps", "" },
    { "video-bit-rate", "bit-rate" },
    { "turn-screen-off", "" },
    { "power-off-on-close", "" },
    { "stay-awake", "" },
    { "print-fps", "" },
} };

constexpr const char* kAudioSince = "2.0";
constexpr const char* kUhidKeyboardSince = "2.4";
constexpr const char* kMouseHoverSince = "2.6";

template <std::size_t N> bool contains(const std::array<std::string_view, N>& list, std::string_view name)
{
    for (const std::string_view entry : list) {
        if (entry == name)
            return true;
    }
    return false;
}

std::string needs(std::string_view what, const char* since, const ScrcpyCapabilities& capabilities)
{
    return std::string(what) + " needs scrcpy " + since + " or later ("
        + (capabilities.version.empty() ? std::string("yours is older") : "you have " + capabilities.version)
        + ")";
}

} // namespace

std::vector<std::string> ScrcpyCommandLine::designed(const std::string& serial,
    const StreamSettings& settings, const std::optional<std::string>& hardwareEncoder, bool safeMode,
    const MirrorOptions& options)
{
    std::vector<std::string> arguments { "-s", serial, "--window-title=Tessaly", "--no-terminal-title",
        "--force-adb-forward" };
    for (std::string& a : settings.scrcpyArguments(hardwareEncoder, safeMode))
        arguments.push_back(std::move(a));
    for (std::string& a : options.arguments())
        arguments.push_back(std::move(a));
    return arguments;
}

ScrcpyCommandLine ScrcpyCommandLine::fit(const std::vector<std::string>& arguments,
    const MirrorOptions& options, const ScrcpyCapabilities& capabilities)
{
    if (capabilities.newest)
        return { arguments, {} };
    ScrcpyCommandLine result;
    bool valueNext = false;
    for (const std::string& argument : arguments) {
        if (std::exchange(valueNext, false) || argument.substr(0, 2) != "--") {
            valueNext = argument == "-s";
            result.arguments.push_back(argument);
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string name
            = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const std::string value = equals == std::string::npos ? "" : argument.substr(equals);
        if (name == "keyboard") {
            const std::string mode = value.substr(std::min<std::size_t>(1, value.size()));
            if (capabilities.hasKeyboardMode(mode))
                result.arguments.push_back(argument);
            else if (mode == "uhid" && capabilities.has("hid-keyboard") && !options.wireless)
                result.arguments.push_back("--hid-keyboard"); // the same keyboard, over the cable only
            else
                result.notes.push_back(needs(options.wireless && capabilities.has("hid-keyboard")
                        ? "Real keyboard mode over Wi-Fi"
                        : "Real keyboard mode",
                    kUhidKeyboardSince, capabilities));
            continue;
        }
        if (capabilities.has(name)) {
            result.arguments.push_back(argument);
            continue;
        }
        bool renamed = false;
        for (const OlderName& rename : kOlderNames) {
            if (rename.current == name && capabilities.has(rename.older)) {
                result.arguments.push_back("--" + std::string(rename.older) + value);
                renamed = true;
            }
        }
        // Anything else unknown stays: scrcpy's own refusal then names it.
        if (!renamed && !contains(kTuning, name))
            result.arguments.push_back(argument);
    }
    if (options.audio && !capabilities.has("no-audio"))
        result.notes.push_back(needs("Audio", kAudioSince, capabilities));
    return result;
}

std::vector<std::string> ScrcpyCommandLine::missingEssentials(const ScrcpyCapabilities& capabilities)
{
    std::vector<std::string> missing;
    for (const OlderName& option : kEssentials) {
        if (!capabilities.has(option.current) && (option.older.empty() || !capabilities.has(option.older)))
            missing.push_back("--" + std::string(option.current));
    }
    return missing;
}

std::vector<std::string> ScrcpyCommandLine::limits(const ScrcpyCapabilities& capabilities)
{
    std::vector<std::string> found;
    const auto since
        = [](const char* what, const char* version) { return std::string(what) + " needs " + version; };
    if (!capabilities.has("no-audio"))
        found.push_back(since("audio", kAudioSince));
    if (!capabilities.hasKeyboardMode("uhid"))
        found.push_back(
            since(capabilities.has("hid-keyboard") ? "real keyboard mode over Wi-Fi" : "real keyboard mode",
                kUhidKeyboardSince));
    if (!capabilities.has("no-mouse-hover"))
        found.push_back(since("mouse hover", kMouseHoverSince));
    return found;
}

} // namespace tessaly
