#include "support/ScrcpyReleases.h"
#include "support/StandInTool.h"
#include "support/standin/StandInScrcpy.h"

#include <stdexcept>

#ifndef TESSALY_SCRCPY_SAMPLES
#error "TESSALY_SCRCPY_SAMPLES must name the folder of real scrcpy output"
#endif

namespace tessaly::test {

namespace {

void replaceOnce(std::string& text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    if (at == std::string::npos)
        throw std::logic_error("scrcpy sample without " + from);
    text.replace(at, from.size(), to);
}

} // namespace

std::string scrcpySample(const std::string& name)
{
    std::string text = standin::readFile(std::string(TESSALY_SCRCPY_SAMPLES) + "/" + name);
    if (text.empty())
        throw std::runtime_error("no scrcpy sample " + name + " in " TESSALY_SCRCPY_SAMPLES);
    return text;
}

ScrcpyRelease scrcpyRelease(const std::string& version)
{
    if (version == "4.1") {
        ScrcpyRelease release = scrcpyRelease("3.3.4");
        release.removed.clear();
        for (std::string* text : { &release.help, &release.version })
            replaceOnce(*text, "scrcpy 3.3.4 <", "scrcpy 4.1 <");
        replaceOnce(release.help, "    --kill-adb-on-close\n",
            "    --keep-active\n        Keep the device active while mirroring.\n\n    "
            "--kill-adb-on-close\n");
        replaceOnce(release.help, "    --no-vd-destroy-content\n",
            "    --no-terminal-title\n        Do not change the terminal title.\n\n    "
            "--no-vd-destroy-content\n");
        return release;
    }
    ScrcpyRelease release { scrcpySample("help-" + version + ".txt"),
        scrcpySample("version-" + version + ".txt"), {} };
    if (version != "1.25") {
        // The first two are the real messages; the others follow their form.
        release.removed = {
            "--bit-rate has been removed, use --video-bit-rate or --audio-bit-rate.",
            "--hid-keyboard has been removed, use --keyboard=aoa or --keyboard=uhid instead.",
            "--codec-options has been removed, use --video-codec-options or --audio-codec-options.",
            "--encoder has been removed, use --video-encoder or --audio-encoder.",
        };
    }
    return release;
}

void StandInTool::playScrcpy(const std::string& version)
{
    const ScrcpyRelease release = scrcpyRelease(version);
    writeBeside(
        ".scrcpy", standin::encode(standin::Scrcpy { release.help, release.version, release.removed }));
}

} // namespace tessaly::test
