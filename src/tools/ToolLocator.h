#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tessaly::ToolLocator {

// Where the locator looks. The defaults describe the running system; tests point them
// into a temporary tree.
struct Places {
    std::string root = "/"; // prepended to every system candidate and prefix
    std::string home; // the user's home folder; empty: no home candidates
    std::string installPrefix; // holds libexec/tessaly and share/tessaly/engine
    uid_t requiredOwner = 0; // built-in tools count only when owned by this user

    // "/" as root, $HOME, and the prefix the running executable was installed under
    // (the folder above the one that holds it).
    static Places system();
};

// Tools shipped with Tessaly itself, installed by the package manager.
struct BuiltInTools {
    std::string helpers; // <prefix>/libexec/tessaly, links resolved: the executables adb and scrcpy
    std::string engineFiles; // <prefix>/share/tessaly/engine, links resolved: scrcpy-server and its icons
    bool usable = false; // the helpers folder and each file in it are owned by root, not group/other writable
    uid_t requiredOwner = 0;

    static BuiltInTools at(const Places& places);

    // The verified executable `name` in `helpers`, or none when not usable.
    std::optional<std::string> tool(const std::string& name) const;
    // Empty, or SCRCPY_SERVER_PATH and SCRCPY_ICON_DIR for the built-in scrcpy.
    std::map<std::string, std::string> environment() const;
};

// The real path of `path` (links resolved) when it lies under one of `allowedPrefixes`
// (each ending in "/"), is an executable regular file and is not writable by others.
std::optional<std::string> verifiedExecutable(
    const std::string& path, const std::vector<std::string>& allowedPrefixes);

// Every trusted adb, each once, in order of trust: the built-in one, the system's, /usr/local's,
// Android Studio's SDK in the home folder, /opt/android-sdk. Which one to run takes their
// versions (see ADBChoice).
std::vector<std::string> adbCandidates(const Places& places = Places::system());
// The first of them.
std::optional<std::string> findADB(const Places& places = Places::system());
std::optional<std::string> findScrcpy(const Places& places = Places::system());
// The system's ping (iputils), used to measure the link to the phone.
std::optional<std::string> findPing(const Places& places = Places::system());

// The built-in tools of this installation and their environment, computed once.
const BuiltInTools& builtIn();
const std::map<std::string, std::string>& builtInEnvironment();

// Numeric-aware ordering of version folder names: "35.0.10" after "35.0.9".
bool versionLess(const std::string& a, const std::string& b);

} // namespace tessaly::ToolLocator
