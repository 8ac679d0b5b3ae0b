#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include <QDateTime>

namespace tessaly {

// Where a screenshot goes and how it gets there without ever replacing a file or leaving
// half a picture behind.
namespace ScreenshotFile {

// "Screenshot 2026-12-06 at 19.30.05.png" for that local time.
std::string name(const QDateTime& taken);

struct Saved {
    std::optional<std::string> path; // the new file, on success
    std::string error; // the system's reason, on failure
};

// Writes `bytes` into `folder` as `name`, or under the first free "name (n)" when that is
// taken: first into a hidden temporary file, then moved to a name nothing holds. A failure
// (a full disk, say) leaves no file behind.
Saved save(const std::string& folder, const std::string& name, std::span<const std::uint8_t> bytes);

} // namespace ScreenshotFile
} // namespace tessaly
