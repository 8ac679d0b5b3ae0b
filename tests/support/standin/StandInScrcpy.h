#pragma once

// The stand-in scrcpy as one release: it answers --help and --version with that release's
// texts and refuses the options it does not know, or reports as removed, as scrcpy does.

#include "support/standin/StandInFormat.h"

#include <optional>

namespace tessaly::test::standin {

struct Scrcpy {
    std::string help; // begins with the banner line "scrcpy VERSION <https://…>"
    std::string version;
    std::vector<std::string> removed; // "--bit-rate has been removed, use …"
};

template <typename F> void fields(F& f, Scrcpy& s)
{
    f(s.help, s.version, s.removed);
}

// What the release prints and its exit status for `arguments`, or none when it would go on
// to mirror (the scripted answers then play).
struct ScrcpyReply {
    std::string out, err;
    int status = 0;
};

inline std::optional<ScrcpyReply> scrcpyReply(
    const Scrcpy& release, const std::vector<std::string>& arguments)
{
    const std::string banner = release.help.substr(0, release.help.find('\n') + 1);
    for (const std::string& argument : arguments) {
        if (argument.size() < 3 || argument.substr(0, 2) != "--")
            continue;
        const std::string name = argument.substr(0, argument.find('='));
        for (const std::string& message : release.removed) {
            if (message.substr(0, name.size() + 1) == name + " ")
                return ScrcpyReply { banner, "ERROR: " + message + "\n", 1 };
        }
        // Every option a release knows is named in its help, and no other.
        bool known = false;
        for (std::size_t at = release.help.find(name); !known && at != std::string::npos;
             at = release.help.find(name, at + 1)) {
            const char next = at + name.size() < release.help.size() ? release.help[at + name.size()] : '\n';
            known = !((next >= 'a' && next <= 'z') || next == '-');
        }
        if (!known) // glibc's getopt names the whole argument
            return ScrcpyReply { banner, "scrcpy: unrecognized option '" + argument + "'\n", 1 };
    }
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "--version"))
        return ScrcpyReply { arguments[0] == "--help" ? release.help : release.version, "", 0 };
    return std::nullopt;
}

} // namespace tessaly::test::standin
