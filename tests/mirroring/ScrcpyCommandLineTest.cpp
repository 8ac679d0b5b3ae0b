#include <algorithm>
#include <map>

#include <gtest/gtest.h>

#include "mirroring/ScrcpyCommandLine.h"
#include "mirroring/ScrcpyOutput.h"
#include "support/StandInTool.h"

using namespace tessaly;
using Arguments = std::vector<std::string>;
using Names = ScrcpyCapabilities::Names;

namespace {

ScrcpyCapabilities release(const std::string& version)
{
    return ScrcpyCapabilities::fromHelp(test::scrcpyHelp(version));
}

} // namespace

// The options of the mirroring command line are checked with the fitted lines below.
TEST(ScrcpyCapabilitiesTest, ReadsEachReleaseAndOddShapesStayBounded)
{
    for (const std::string version : { "1.25", "2.4", "3.3.4", "4.1" }) {
        const ScrcpyCapabilities read = release(version);
        EXPECT_EQ(read.version, version);
        const Names modes = version == "1.25" ? Names {} : Names { "aoa", "disabled", "sdk", "uhid" };
        EXPECT_EQ(read.keyboardModes, modes);
        EXPECT_TRUE(read.has("tcpip") && read.has("help") && !read.has("K") && !read.has("gitven"))
            << version;
        EXPECT_EQ(read.has("list-encoders"), version != "1.25") << version;
    }
    for (const std::string unreadable :
        { "", "Usage: scrcpy [options]\n", "\x01\xff\n-- --\n  --two\n\t--tab\n" })
        EXPECT_TRUE(ScrcpyCapabilities::fromHelp(unreadable) == ScrcpyCapabilities {}) << unreadable;
    EXPECT_TRUE(ScrcpyCapabilities {}.has("anything") && ScrcpyCapabilities {}.hasKeyboardMode("uhid"));
    // Wrapped values, CRLF lines, names too strange to be options, no banner.
    const ScrcpyCapabilities odd = ScrcpyCapabilities::fromHelp(
        "    --keyboard=mode\r\n        Possible values are \"sdk\"\r\n        and \"uhid\". Not \"aoa\".\r\n"
        "    -x, --Bad_Name, --"
        + std::string(100, 'a') + "\n    --bare\n        see --described-only\n");
    EXPECT_EQ(odd.options, (Names { "bare", "keyboard" }));
    EXPECT_EQ(odd.keyboardModes, (Names { "sdk", "uhid" }));
    EXPECT_EQ(odd.version, "");
    // A --keyboard whose values cannot be read is taken to take them all.
    EXPECT_TRUE(ScrcpyCapabilities::fromHelp("    --keyboard=mode\n").hasKeyboardMode("uhid"));
}

// The version and the refused option of what scrcpy answers.
TEST(ScrcpyOutputTest, VersionAndRejectedOptionInEachFormOfRefusal)
{
    using Found = std::optional<std::string>;
    const std::vector<std::tuple<std::string, Found, Found>> cases {
        { test::scrcpySample("unknown-option-1.25.txt"), "1.25", "--no-terminal-title" },
        { test::scrcpySample("removed-option-2.4.txt"), "2.4", "--bit-rate" },
        { test::scrcpySample("removed-option-3.3.4.txt"), "3.3.4", "--hid-keyboard" },
        { "scrcpy: unrecognized option '--video-codec=h264'\n  scrcpy   2.4-rc1  \r\n", "2.4-rc1",
            "--video-codec" },
        { "scrcpy: unrecognized option `--keep-active'\nscrcpy v3\nscrcpy 9", "9", "--keep-active" },
        { "scrcpy: unknown option -- no-mouse-hover\nScrcpy 3.1", std::nullopt, "--no-mouse-hover" },
        { "scrcpy: invalid option -- 'K'\nscrcpy " + std::string(200, '9'), std::nullopt, "-K" },
        { "ERROR: Could not find any ADB device\nscrcpy 3.\x1b[2J1", std::nullopt, std::nullopt },
        { "scrcpy: unrecognized option '--$(reboot)'\n", std::nullopt, std::nullopt },
    };
    for (const auto& [output, version, option] : cases) {
        EXPECT_EQ(ScrcpyCapabilities::versionIn(output), version) << output;
        EXPECT_EQ(ScrcpyOutput::rejectedOption(output), option) << output;
    }
}

// The design's own examples fitted to each release: low latency over Wi-Fi with a found encoder
// and stay-awake on, and every flag on with the Best preset over Wi-Fi.
TEST(ScrcpyCommandLineTest, TheDesignsExamplesFittedToEachRelease)
{
    const std::string serial = "192.168.1.40:5555",
                      tuning = "bitrate-mode:int=2,priority:int=0,latency:int=1";
    const MirrorOptions stayAwake { false, true, false, false, false, true },
        allOn { true, true, true, true, true, true };
    const Arguments lowLatency = ScrcpyCommandLine::designed(
        serial, StreamSettings::lowLatency("4M", "Low latency (Wi-Fi)"), "c2.avc", false, stayAwake);
    const Arguments everything = ScrcpyCommandLine::designed(
        serial, StreamSettings::forPreset(QualityPreset::best, true, false), std::nullopt, false, allOn);
    // Older names take the place of the current ones.
    const std::map<std::string, std::string> older { { "--video-bit-rate=4M", "--bit-rate=4M" },
        { "--video-codec-options=" + tuning, "--codec-options=" + tuning },
        { "--video-encoder=c2.avc", "--encoder=c2.avc" } };
    const auto fitted = [&](Arguments args, const Arguments& dropped, bool renamed) {
        std::erase_if(args,
            [&](const auto& a) { return std::find(dropped.begin(), dropped.end(), a) != dropped.end(); });
        for (std::string& a : args)
            a = renamed && older.contains(a) ? older.at(a) : a;
        return args;
    };
    const struct {
        std::string release;
        Arguments droppedFromLowLatency, droppedFromEverything, notes, limits;
    } cases[] {
        { "4.1", {}, {}, {}, {} },
        { "3.3.4", { "--no-terminal-title" }, { "--no-terminal-title", "--keep-active" }, {}, {} },
        { "2.4", { "--no-terminal-title", "--no-mouse-hover" },
            { "--no-terminal-title", "--keep-active", "--no-mouse-hover" }, {}, { "mouse hover needs 2.6" } },
        { "1.25", { "--no-terminal-title", "--video-codec=h264", "--no-audio", "--no-mouse-hover" },
            { "--no-terminal-title", "--keep-active", "--keyboard=uhid", "--no-mouse-hover" },
            { "Real keyboard mode over Wi-Fi needs scrcpy 2.4 or later (you have 1.25)",
                "Audio needs scrcpy 2.0 or later (you have 1.25)" },
            { "audio needs 2.0", "real keyboard mode over Wi-Fi needs 2.4", "mouse hover needs 2.6" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        const ScrcpyCapabilities capabilities = release(c.release);
        EXPECT_TRUE(ScrcpyCommandLine::missingEssentials(capabilities).empty());
        EXPECT_EQ(ScrcpyCommandLine::fit(lowLatency, stayAwake, capabilities),
            (ScrcpyCommandLine { fitted(lowLatency, c.droppedFromLowLatency, c.release == "1.25"), {} }));
        EXPECT_EQ(ScrcpyCommandLine::fit(everything, allOn, capabilities),
            (ScrcpyCommandLine { fitted(everything, c.droppedFromEverything, false), c.notes }));
        EXPECT_EQ(ScrcpyCommandLine::limits(capabilities), c.limits);
    }
    // An unreadable help changes nothing.
    EXPECT_EQ(ScrcpyCommandLine::fit(everything, allOn, {}), (ScrcpyCommandLine { everything, {} }));
    EXPECT_TRUE(ScrcpyCommandLine::limits({}).empty());
}
