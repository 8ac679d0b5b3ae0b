#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tessaly {

// What one scrcpy executable understands, read from its `--help` text.
struct ScrcpyCapabilities {
    using Names = std::set<std::string, std::less<>>;

    Names options; // the long options it lists, without "--"
    Names keyboardModes; // the values it lists for --keyboard
    std::string version; // from the help's first line ("2.4"); empty when it gave none
    // The help could not be read: taken for a current scrcpy that understands everything, so
    // nothing changes for one.
    bool newest = true;

    bool operator==(const ScrcpyCapabilities&) const = default;

    bool has(std::string_view option) const { return newest || options.contains(option); }
    // A --keyboard listed without readable values counts as taking every value.
    bool hasKeyboardMode(std::string_view mode) const
    {
        return newest || (has("keyboard") && (keyboardModes.empty() || keyboardModes.contains(mode)));
    }

    // A help text without a single option line reads as newest.
    static ScrcpyCapabilities fromHelp(std::string_view help);

    // The version of the first line whose words are "scrcpy" and a version ("scrcpy 2.4 <https://…>"):
    // the banner scrcpy prints before its help, its --version answer and its option errors.
    static std::optional<std::string> versionIn(std::string_view output);
};

} // namespace tessaly
