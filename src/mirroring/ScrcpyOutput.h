#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaly {

// A frame-rate report of a running mirroring session.
struct FPSReading {
    int fps = 0;
    int skipped = 0; // frames reported as skipped in the same line, 0 when none

    bool operator==(const FPSReading&) const = default;
};

// Pure readers of what scrcpy prints.
namespace ScrcpyOutput {

// The frame rate of one output line ("INFO: 58 fps (+3 frames skipped)"), none for other lines.
std::optional<FPSReading> fps(std::string_view line);

// The first safe hardware H.264 encoder name of a `--list-encoders` answer that is not an alias.
std::optional<std::string> hardwareH264Encoder(std::string_view output);

// Whether the output carries a message of the phone's video encoder refusing the settings.
bool looksLikeEncoderError(std::string_view output);

// The option scrcpy refused before it began ("--no-terminal-title"), from getopt's
// "unrecognized option '--x'", "unknown option -- x" or "invalid option -- 'x'", or scrcpy's own
// "--x has been removed"; none when the output holds no such refusal.
std::optional<std::string> rejectedOption(std::string_view output);

} // namespace ScrcpyOutput
} // namespace tessaly
