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
