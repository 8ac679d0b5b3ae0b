#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaly {

// A failure the user must hear about, in one shape: a plain title, advice on what to do,
// and the technical output behind it (empty when there is none).
struct FriendlyError {
    std::string title; // one sentence, the alert's message
    std::string advice; // may contain line feeds
    std::string details; // tool output or a system error description

    bool operator==(const FriendlyError&) const = default;

    // What "Show details of last error…" shows: the details, or when there are none the
    // title and the advice.
    std::string detailsOrSummary() const;

    // Launch at login could not be switched; `reason` is what the autostart folder said.
    static FriendlyError loginItemFailed(std::string reason);

    // Why a mirroring session ended with a failure, from the tool's exit status and output.
    static FriendlyError fromScrcpy(std::int32_t exitCode, const std::string& output);
    // scrcpy refused `option` of the command line; `version` is empty when unknown.
    static FriendlyError scrcpyRefusedOption(
        const std::string& option, const std::string& version, std::string output);
    // The scrcpy found lacks the `missing` options that mirroring needs.
    static FriendlyError scrcpyTooOld(const std::string& version, const std::vector<std::string>& missing);
};

} // namespace tessaly
