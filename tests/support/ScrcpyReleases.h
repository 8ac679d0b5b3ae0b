#pragma once

#include <string>
#include <vector>

namespace tessaly::test {

// What a scrcpy release answers: its `--help` and `--version` texts and the messages of the
// options it reports as removed ("--bit-rate has been removed, use …").
struct ScrcpyRelease {
    std::string help;
    std::string version;
    std::vector<std::string> removed;
};

// "1.25", "2.4" and "3.3.4" are the real texts of the scrcpy samples folder; "4.1" is 3.3.4's
// help with the options 4.0 and 4.1 added, the older names no longer known at all.
ScrcpyRelease scrcpyRelease(const std::string& version);

// A file of the scrcpy samples folder ("unknown-option-2.4.txt"); throws when it is missing.
std::string scrcpySample(const std::string& name);

} // namespace tessaly::test
