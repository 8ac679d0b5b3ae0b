#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tessaly {

// A folder of the phone's shared storage, as its path pieces below "/sdcard".
struct PhoneFolder {
    struct Place;

    std::vector<std::string> names;

    // "/sdcard" followed by "/" and each name.
    std::string path() const;
    // The last name, or "Internal storage" at the root.
    std::string title() const;
    bool isRoot() const { return names.empty(); }
    PhoneFolder parent() const;
    PhoneFolder child(const std::string& name) const;

    // The starting places offered to the user, in menu order.
    static const std::vector<Place>& places();

    bool operator==(const PhoneFolder&) const = default;
};

struct PhoneFolder::Place {
    std::string title;
    PhoneFolder folder;
};

// One entry of a folder listing.
struct PhoneFile {
    enum class Kind { file, folder, other };

    std::string name;
    Kind kind = Kind::file;
    std::int64_t size = 0; // bytes
    std::int64_t modified = 0; // seconds since 1970 UTC

    bool operator==(const PhoneFile&) const = default;
};

// The result of listing one folder: its entries in the tool's order, or the message to show.
struct FolderListing {
    struct Files {
        std::vector<PhoneFile> files;
        // The tool printed "." or "..", which it does only for a folder that exists.
        bool folderSeen = false;
        // The answer filled the output limit, so its first entries may be missing: a copy
        // must not trust it to know every name that is taken.
        bool truncated = false;
        bool operator==(const Files&) const = default;
    };
    struct Failed {
        std::string message;
        bool operator==(const Failed&) const = default;
    };

    std::variant<Files, Failed> value = Files {};

    const Files* files() const { return std::get_if<Files>(&value); }
    const Failed* failed() const { return std::get_if<Failed>(&value); }
    bool operator==(const FolderListing&) const = default;
};

namespace PhoneFiles {

inline constexpr double kListTimeout = 20.0;
inline constexpr std::string_view kRefusedFolder
    = "Refused: that is not a folder in the phone's shared storage.";

// The answer of "adb ls": one line per entry, "MODE SIZE MTIME NAME" with hexadecimal numbers
// (000041f9 00001000 65a3c2b1 DCIM). Lines that do not read, and unusable names, are skipped.
FolderListing::Files parseListing(std::string_view output);

// The arguments that list `folder`, or none when the serial or the path is refused.
std::optional<std::vector<std::string>> listArguments(const PhoneFolder& folder, const std::string& serial);

} // namespace PhoneFiles

struct ProcessResult;
namespace PhoneFiles {
// A finished "ls" run as a listing: parsed on success, else the run's combined output.
FolderListing listingFrom(const ProcessResult& result);
} // namespace PhoneFiles
} // namespace tessaly
