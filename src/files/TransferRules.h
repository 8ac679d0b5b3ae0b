#pragma once

#include <optional>
#include <set>
#include <string>

#include "tools/ProcessRunner.h"

namespace tessaly {

// The pure rules of copying: free names, counters, time limits and readable reasons.
namespace TransferRules {

// Names compare without regard to letter case, as the phone's shared storage does.
std::string foldCase(const std::string& name);

// `name`, or the first "base (n).ext" (n from 2) whose folded form is not in `taken`;
// the chosen name's folded form is added to `taken`. A leading "." is no extension.
std::string freeName(const std::string& name, std::set<std::string>& taken);

// A copy to this computer is written under ".NAME.tessaly-partial" in the same folder and renamed
// once complete, so no truncated file ever carries a real name; NAME is cut short where the whole
// would pass 255 bytes.
std::string partialName(const std::string& name);
// A name of that form, such as one left behind by a crash; it never makes a name taken.
bool isPartialName(std::string_view name);

// "" for fewer than two items, else " (i+1 of n)".
std::string counter(std::size_t index, std::size_t count);

// Two minutes plus one second per 100 kB, at most four hours; folders and sizes that
// cannot be read get two hours.
double timeLimit(std::optional<std::int64_t> fileSize);

// A short phrase that completes "NAME: ..." from a failed adb run.
std::string reason(const ProcessResult& result);

// The last line of `text` that is not blank, as printed.
std::string lastLine(const std::string& text);

} // namespace TransferRules
} // namespace tessaly
