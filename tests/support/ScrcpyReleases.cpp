#include "support/StandInTool.h"
#include "support/standin/StandInScrcpy.h"

#include <stdexcept>
#include <tuple>

#ifndef TESSALY_SCRCPY_SAMPLES
#error "TESSALY_SCRCPY_SAMPLES must name the folder of real scrcpy output"
#endif

namespace tessaly::test {

std::string scrcpySample(const std::string& name)
{
    std::string text = standin::readFile(std::string(TESSALY_SCRCPY_SAMPLES) + "/" + name);
    if (text.empty())
        throw std::runtime_error("no scrcpy sample " + name + " in " TESSALY_SCRCPY_SAMPLES);
    return text;
}

namespace {

// "1.25", "2.4" and "3.3.4" answer with the real texts; "4.1" is 3.3.4 with the options of 4.0
// and 4.1 added and the older names no longer known at all.
standin::Scrcpy scrcpyRelease(const std::string& version)
{
    if (version == "4.1") {
        standin::Scrcpy release { scrcpyRelease("3.3.4").help, scrcpySample("version-3.3.4.txt"), {} };
        using Edit = std::tuple<std::string*, std::string_view, std::string_view>;
        for (const auto& [text, from, to] : { Edit { &release.help, "scrcpy 3.3.4 <", "scrcpy 4.1 <" },
                 Edit { &release.version, "scrcpy 3.3.4 <", "scrcpy 4.1 <" },
                 Edit { &release.help, "    --kill-adb-on-close\n",
                     "    --keep-active\n    --no-terminal-title\n    --kill-adb-on-close\n" } }) {
            if (const std::size_t at = text->find(from); at != std::string::npos)
                text->replace(at, from.size(), to);
        }
        return release;
    }
    standin::Scrcpy release { scrcpySample("help-" + version + ".txt"),
        scrcpySample("version-" + version + ".txt"), {} };
    // The first two are the real messages; the others follow their form.
    if (version != "1.25")
        release.removed = { "--bit-rate has been removed, use --video-bit-rate or --audio-bit-rate.",
            "--hid-keyboard has been removed, use --keyboard=aoa or --keyboard=uhid instead.",
            "--codec-options has been removed, use --video-codec-options or --audio-codec-options.",
            "--encoder has been removed, use --video-encoder or --audio-encoder." };
    return release;
}

} // namespace

std::string scrcpyHelp(const std::string& version)
{
    return scrcpyRelease(version).help;
}

void StandInTool::playScrcpy(const std::string& version)
{
    writeBeside(".scrcpy", standin::encode(scrcpyRelease(version)));
}

} // namespace tessaly::test
