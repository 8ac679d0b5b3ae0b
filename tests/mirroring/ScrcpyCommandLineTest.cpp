#include <algorithm>

#include <gtest/gtest.h>

#include "mirroring/ScrcpyCommandLine.h"
#include "mirroring/ScrcpyOutput.h"
#include "support/ScrcpyReleases.h"

using namespace tessaly;
using Arguments = std::vector<std::string>;
using Names = ScrcpyCapabilities::Names;

namespace {

ScrcpyCapabilities release(const std::string& version)
{
    return ScrcpyCapabilities::fromHelp(test::scrcpyRelease(version).help);
}

} // namespace

TEST(ScrcpyCapabilitiesTest, ReadsOptionsKeyboardModesAndVersionOfEachRelease)
{
    const Names modes { "aoa", "disabled", "sdk", "uhid" };
    const struct {
        std::string release;
        Arguments listed, absent;
        Names keyboardModes;
    } cases[] {
        { "1.25",
            { "bit-rate", "codec-options", "encoder", "hid-keyboard", "window-title", "max-size", "tcpip" },
            { "video-bit-rate", "no-audio", "keyboard", "list-encoders", "no-mouse-hover", "K", "gitven" },
            {} },
        { "2.4",
            { "video-bit-rate", "video-codec", "no-audio", "keyboard", "list-encoders", "help", "version" },
            { "bit-rate", "hid-keyboard", "no-mouse-hover", "no-terminal-title", "keep-active" }, modes },
        { "3.3.4", { "no-mouse-hover", "new-display", "pause-on-exit", "window-height", "otg" },
            { "keep-active", "no-terminal-title", "encoder" }, modes },
        { "4.1", { "keep-active", "no-terminal-title", "no-mouse-hover" }, { "bit-rate", "codec-options" },
            modes },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        const ScrcpyCapabilities read = release(c.release);
        EXPECT_FALSE(read.newest);
        EXPECT_EQ(read.version, c.release);
        EXPECT_EQ(read.keyboardModes, c.keyboardModes);
        for (const std::string& option : c.listed)
            EXPECT_TRUE(read.has(option)) << option;
        for (const std::string& option : c.absent)
            EXPECT_FALSE(read.has(option)) << option;
        EXPECT_EQ(read.hasKeyboardMode("uhid"), !c.keyboardModes.empty());
    }
}

TEST(ScrcpyCapabilitiesTest, UnreadableHelpIsTheNewestAndOddShapesStayBounded)
{
    for (const std::string unreadable : { "", "Usage: scrcpy [options]\n", "\x01\xff garbage\n-- --\n",
             "  --two-spaces\n\t--tab\n     --five-spaces\n" }) {
        const ScrcpyCapabilities read = ScrcpyCapabilities::fromHelp(unreadable);
        EXPECT_TRUE(read.newest && read.has("anything") && read.hasKeyboardMode("uhid")) << unreadable;
    }
    // Wrapped values, CRLF lines, a name too strange to be an option, no banner.
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

TEST(ScrcpyCapabilitiesTest, VersionFromTheFirstScrcpyLineOfAnyAnswer)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases {
        { test::scrcpySample("version-3.3.4.txt"), "3.3.4" },
        { test::scrcpySample("unknown-option-2.4.txt"), "2.4" },
        { test::scrcpySample("removed-option-3.3.4.txt"), "3.3.4" },
        { "\n  \r\n  scrcpy   2.4-rc1  \r\n", "2.4-rc1" },
        { "INFO: loading\nscrcpy 3.1\nscrcpy 9", "3.1" },
        { "Scrcpy 3.1\nscrcpy v3\nscrcpy", std::nullopt },
        { "scrcpy " + std::string(200, '9'), std::nullopt },
        { "scrcpy 3.\x1b[2J1", std::nullopt },
    };
    for (const auto& [output, version] : cases)
        EXPECT_EQ(ScrcpyCapabilities::versionIn(output), version) << output;
}

// `args` without the listed arguments and with the listed ones swapped.
Arguments edited(Arguments args, const Arguments& dropped,
    const std::vector<std::pair<std::string, std::string>>& swapped = {})
{
    std::erase_if(args,
        [&](const std::string& a) { return std::find(dropped.begin(), dropped.end(), a) != dropped.end(); });
    for (auto& a : args)
        for (const auto& [from, to] : swapped)
            a = a == from ? to : a;
    return args;
}

TEST(ScrcpyCommandLineTest, TheDesignsCommandLinesFittedToEachRelease)
{
    const std::string serial = "192.168.1.40:5555", encoder = "c2.qti.avc.encoder";
    const std::string tuning = "bitrate-mode:int=2,priority:int=0,latency:int=1";
    // The design's example: low latency over Wi-Fi with a found encoder, stay-awake on.
    const MirrorOptions stayAwakeOverWiFi { false, true, false, false, false, true };
    const Arguments lowLatency = ScrcpyCommandLine::designed(
        serial, StreamSettings::lowLatency("4M", "Low latency (Wi-Fi)"), encoder, false, stayAwakeOverWiFi);
    ASSERT_EQ(lowLatency,
        (Arguments { "-s", serial, "--window-title=Tessaly", "--no-terminal-title", "--force-adb-forward",
            "--video-codec=h264", "--max-size=800", "--video-bit-rate=4M", "--max-fps=60",
            "--video-codec-options=" + tuning, "--video-encoder=" + encoder, "--stay-awake", "--no-audio",
            "--no-mouse-hover" }));
    // Every flag on with the Best preset, over Wi-Fi and by cable.
    const MirrorOptions allOn { true, true, true, true, true, true };
    MirrorOptions allOnByCable = allOn;
    allOnByCable.wireless = false;
    const StreamSettings best = StreamSettings::forPreset(QualityPreset::best, false, false);
    const Arguments everything = ScrcpyCommandLine::designed(serial, best, encoder, false, allOn);
    ASSERT_EQ(everything,
        (Arguments { "-s", serial, "--window-title=Tessaly", "--no-terminal-title", "--force-adb-forward",
            "--max-fps=60", "--turn-screen-off", "--keep-active", "--power-off-on-close", "--stay-awake",
            "--keyboard=uhid", "--print-fps", "--no-mouse-hover" }));
    const Arguments byCable = ScrcpyCommandLine::designed(serial, best, encoder, false, allOnByCable);

    const std::string audio = "Audio needs scrcpy 2.0 or later (you have 1.25)";
    const Arguments fourOne { "--no-terminal-title", "--keep-active" };
    const struct {
        std::string release;
        ScrcpyCommandLine lowLatency, everything, byCable;
    } cases[] {
        { "4.1", { lowLatency, {} }, { everything, {} }, { byCable, {} } },
        { "3.3.4", { edited(lowLatency, fourOne), {} }, { edited(everything, fourOne), {} },
            { edited(byCable, fourOne), {} } },
        { "2.4", { edited(lowLatency, { "--no-terminal-title", "--no-mouse-hover" }), {} },
            { edited(everything, { "--no-terminal-title", "--keep-active", "--no-mouse-hover" }), {} },
            { edited(byCable, fourOne), {} } },
        { "1.25",
            { edited(lowLatency,
                  { "--no-terminal-title", "--video-codec=h264", "--no-audio", "--no-mouse-hover" },
                  { { "--video-bit-rate=4M", "--bit-rate=4M" },
                      { "--video-codec-options=" + tuning, "--codec-options=" + tuning },
                      { "--video-encoder=" + encoder, "--encoder=" + encoder } }),
                {} },
            { edited(everything,
                  { "--no-terminal-title", "--keep-active", "--keyboard=uhid", "--no-mouse-hover" }),
                { "Real keyboard mode over Wi-Fi needs scrcpy 2.4 or later (you have 1.25)", audio } },
            { edited(byCable, fourOne, { { "--keyboard=uhid", "--hid-keyboard" } }), { audio } } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        const ScrcpyCapabilities capabilities = release(c.release);
        EXPECT_TRUE(ScrcpyCommandLine::missingEssentials(capabilities).empty());
        EXPECT_EQ(ScrcpyCommandLine::fit(lowLatency, stayAwakeOverWiFi, capabilities), c.lowLatency);
        EXPECT_EQ(ScrcpyCommandLine::fit(everything, allOn, capabilities), c.everything);
        EXPECT_EQ(ScrcpyCommandLine::fit(byCable, allOnByCable, capabilities), c.byCable);
    }
    // An unreadable help changes nothing.
    EXPECT_EQ(ScrcpyCommandLine::fit(everything, allOn, {}), (ScrcpyCommandLine { everything, {} }));
}

TEST(ScrcpyCommandLineTest, TooOldAndLimitsOfOlderReleases)
{
    // A help from before --print-fps and --power-off-on-close, without a version line.
    const ScrcpyCapabilities ancient
        = ScrcpyCapabilities::fromHelp("    -b, --bit-rate=value\n    --max-fps=value\n"
                                       "    -m, --max-size=value\n    --window-title=text\n    "
                                       "--force-adb-forward\n    -S, --turn-screen-off\n"
                                       "    -w, --stay-awake\n");
    EXPECT_EQ(
        ScrcpyCommandLine::missingEssentials(ancient), (Arguments { "--power-off-on-close", "--print-fps" }));
    const MirrorOptions audioAndKeyboard { false, false, true, true, false, false };
    EXPECT_EQ(ScrcpyCommandLine::fit({ "--keyboard=uhid" }, audioAndKeyboard, ancient).notes,
        (Arguments { "Real keyboard mode needs scrcpy 2.4 or later (yours is older)",
            "Audio needs scrcpy 2.0 or later (yours is older)" }));
    const std::vector<std::pair<std::string, Arguments>> limits {
        { "1.25", { "audio needs 2.0", "real keyboard mode over Wi-Fi needs 2.4", "mouse hover needs 2.6" } },
        { "2.4", { "mouse hover needs 2.6" } },
        { "3.3.4", {} },
    };
    for (const auto& [version, expected] : limits)
        EXPECT_EQ(ScrcpyCommandLine::limits(release(version)), expected) << version;
    EXPECT_TRUE(ScrcpyCommandLine::limits({}).empty());
}

TEST(ScrcpyOutputTest, RejectedOptionInEachFormOfRefusal)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases {
        { test::scrcpySample("unknown-option-1.25.txt"), "--no-terminal-title" },
        { test::scrcpySample("removed-option-2.4.txt"), "--bit-rate" },
        { test::scrcpySample("removed-option-3.3.4.txt"), "--hid-keyboard" },
        { "scrcpy: unrecognized option '--video-codec=h264'\n", "--video-codec" },
        { "scrcpy: unrecognized option `--keep-active'\n", "--keep-active" },
        { "scrcpy: unknown option -- no-mouse-hover\nusage: …", "--no-mouse-hover" },
        { "scrcpy: invalid option -- 'K'\n", "-K" },
        { "ERROR: Could not find any ADB device\nERROR: Server connection failed", std::nullopt },
        { "ERROR: --bit-rate is deprecated", std::nullopt },
        { "scrcpy: unrecognized option '--$(reboot)'\n", std::nullopt },
        { "INFO: 58 fps", std::nullopt },
    };
    for (const auto& [output, option] : cases)
        EXPECT_EQ(ScrcpyOutput::rejectedOption(output), option) << output;
}
