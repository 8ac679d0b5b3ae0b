#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/ProcessRunner.h"

namespace tessaly {

// A tool's answer to a question that only the installed file decides (`adb version`): asked
// once per executable for the life of the application. The executable is known by its real
// path, inode, size and change time, so a tool the package manager replaced is asked again.
namespace ToolAnswers {

inline constexpr double kTimeLimit = 3;

// None when the file cannot be examined.
std::optional<std::string> identity(const std::string& executable);

// The answer kept for this executable as it is now; none when it has not answered yet.
std::optional<ProcessResult> remembered(
    const std::string& executable, const std::vector<std::string>& arguments);
// Keeps a complete answer; one that timed out or never started is not kept, so it is asked again.
void remember(
    const std::string& executable, const std::vector<std::string>& arguments, const ProcessResult& answer);

// The kept answer, or the tool's answer now (blocking, time-limited), then kept.
ProcessResult ask(const std::string& executable, const std::vector<std::string>& arguments,
    const Environment& environment, double timeoutSeconds = kTimeLimit);

} // namespace ToolAnswers
} // namespace tessaly
