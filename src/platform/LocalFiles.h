#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tessaly::LocalFiles {

// The user's Downloads folder, when it exists.
std::optional<std::string> downloadsFolder();

// The user's Pictures folder, made when it does not exist yet (as screenshot tools do);
// none when it cannot be made.
std::optional<std::string> picturesFolder();

// Bytes an unprivileged user may still write on the volume of `folder`; none when unknown.
std::optional<std::int64_t> availableCapacity(const std::string& folder);

// Marks a received file as downloaded by this application; file systems without extended
// attributes simply keep the file unmarked.
void markAsDownloaded(int fd, const std::string& comment);

} // namespace tessaly::LocalFiles
