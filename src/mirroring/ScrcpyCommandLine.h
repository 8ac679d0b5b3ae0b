#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mirroring/ScrcpyCapabilities.h"
#include "mirroring/StreamSettings.h"

namespace tessaly {

// The mirroring command line fitted to the scrcpy at hand.
struct ScrcpyCommandLine {
    // The oldest scrcpy that has every option mirroring cannot do without (Debian 12's).
    static constexpr const char* kOldestUsable = "1.25";

    std::vector<std::string> arguments;
    // What the user asked for that this scrcpy cannot do, as sentences for the menu
    // ("Audio needs scrcpy 2.0 or later (you have 1.25)").
    std::vector<std::string> notes;

    bool operator==(const ScrcpyCommandLine&) const = default;

    // The whole command line for a current scrcpy: the serial, the window title and the fixed
    // options, then the settings' arguments, then the options'.
    static std::vector<std::string> designed(const std::string& serial, const StreamSettings& settings,
        const std::optional<std::string>& hardwareEncoder, bool safeMode, const MirrorOptions& options);

    // `arguments` is the command line as built for a current scrcpy from `options`. Each option
    // this scrcpy lacks takes its older name, or is left out when it only tunes the session;
    // a left-out wish of the user gets a note.
    static ScrcpyCommandLine fit(const std::vector<std::string>& arguments, const MirrorOptions& options,
        const ScrcpyCapabilities& capabilities);

    // The options mirroring needs that this scrcpy lacks, with their "--"; empty when it is
    // new enough.
    static std::vector<std::string> missingEssentials(const ScrcpyCapabilities& capabilities);

    // What the user could ask for and this scrcpy cannot do, shortly ("mouse hover needs 2.6").
    static std::vector<std::string> limits(const ScrcpyCapabilities& capabilities);
};

} // namespace tessaly
