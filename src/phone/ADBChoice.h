#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/ToolLocator.h"

namespace tessaly {

// Which of the trusted adb executables Tessaly runs. One adb serves every run (and scrcpy, through
// ADB): adb clients and servers of different versions replace each other's server, so the choice
// is made once, and the newest wins (an SDK the user installed is usually newer than the system's).
namespace ADBChoice {

struct Candidate {
    std::string path;
    std::optional<std::string> version; // none when unreadable
};

// The candidate with the highest version; on equal versions the earlier one; when no version
// can be read, the first.
std::optional<std::string> newest(const std::vector<Candidate>& candidates);

// The platform-tools version of this adb ("29.0.6-debian"), asked once per executable (blocking,
// time-limited); none when unreadable or without a leading number.
std::optional<std::string> version(const std::string& adb);

// Every trusted adb asked for its version, all at once, and the newest chosen. With a single
// one nothing is asked here.
std::optional<std::string> choose(const ToolLocator::Places& places = ToolLocator::Places::system());

} // namespace ADBChoice
} // namespace tessaly
