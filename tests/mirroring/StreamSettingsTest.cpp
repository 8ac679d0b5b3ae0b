#include <gtest/gtest.h>

#include "mirroring/StreamSettings.h"

using namespace tessaly;
using Arguments = std::vector<std::string>;

namespace {

const std::string kLowLatencyOptions = "bitrate-mode:int=2,priority:int=0,latency:int=1";

Arguments lowLatencyArguments(const std::string& bitRate)
{
    return { "--video-codec=h264", "--max-size=800", "--video-bit-rate=" + bitRate, "--max-fps=60" };
}

} // namespace

TEST(StreamSettingsTest, PresetsInMenuOrderReadBackFromTheirStoredValues)
{
    const std::vector<std::string> stored { "auto", "lowLatency", "smooth", "lowLag", "best" };
    ASSERT_EQ(allQualityPresets.size(), stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(rawValue(allQualityPresets[i]), stored[i]);
        EXPECT_EQ(qualityPresetFromRaw(stored[i]), allQualityPresets[i]);
    }
    for (const std::string raw : { "", "Auto", "automatic", "best ", "lowlatency" })
        EXPECT_EQ(qualityPresetFromRaw(raw), std::nullopt) << raw;
}

// The presets the mirroring scenarios do not launch.
TEST(StreamSettingsTest, SettingsForDataSaverAndBestOverWiFi)
{
    const std::vector<std::tuple<QualityPreset, bool, bool, StreamSettings>> cases {
        // preset, wireless, poor link
        { QualityPreset::lowLag, true, true,
            { "Data saver (weak Wi-Fi)", { "--max-size=800", "--video-bit-rate=2M", "--max-fps=30" },
                "bitrate-mode:int=2", false } },
        { QualityPreset::best, true, true, { "Best (USB)", { "--max-fps=60" }, std::nullopt, false } },
    };
    for (const auto& [preset, wireless, poor, expected] : cases) {
        EXPECT_EQ(StreamSettings::forPreset(preset, wireless, poor), expected)
            << rawValue(preset) << " wireless=" << wireless << " poor=" << poor;
    }
}

TEST(StreamSettingsTest, TuningAndSafeEncoderNameOnlyOutsideSafeMode)
{
    const auto lowLatency = StreamSettings::lowLatency("4M", "Low latency (Wi-Fi)");
    Arguments tuned = lowLatencyArguments("4M");
    tuned.push_back("--video-codec-options=" + kLowLatencyOptions);
    EXPECT_EQ(lowLatency.scrcpyArguments(std::nullopt, false), tuned);
    for (const std::string& unsafe : Arguments { "-c2.qti", "c2:qti", "c2 qti", std::string(101, 'e'), "" })
        EXPECT_EQ(lowLatency.scrcpyArguments(unsafe, false), tuned) << unsafe;
    tuned.push_back("--video-encoder=c2.qti.avc.encoder");
    EXPECT_EQ(lowLatency.scrcpyArguments("c2.qti.avc.encoder", false), tuned);
    EXPECT_EQ(lowLatency.scrcpyArguments("c2.qti.avc.encoder", true), lowLatencyArguments("4M"));
    // Presets that do not want an encoder name never get one.
    const auto best = StreamSettings::forPreset(QualityPreset::best, false, false);
    EXPECT_EQ(best.scrcpyArguments("c2.qti.avc.encoder", false), Arguments { "--max-fps=60" });
    const auto smooth = StreamSettings::forPreset(QualityPreset::smooth, true, false);
    EXPECT_EQ(smooth.scrcpyArguments("c2.qti.avc.encoder", false),
        (Arguments { "--max-size=1024", "--video-bit-rate=4M", "--max-fps=60",
            "--video-codec-options=bitrate-mode:int=2" }));
}

TEST(StreamSettingsTest, MirrorOptionArguments)
{
    EXPECT_EQ(MirrorOptions {}.arguments(), Arguments { "--no-audio" });
    EXPECT_EQ((MirrorOptions { true, true, true, true, true, true }.arguments()),
        (Arguments { "--turn-screen-off", "--keep-active", "--power-off-on-close", "--stay-awake",
            "--keyboard=uhid", "--print-fps", "--no-mouse-hover" }));
    EXPECT_EQ((MirrorOptions { .pocketMode = true, .audio = true }.arguments()),
        (Arguments { "--turn-screen-off", "--keep-active", "--power-off-on-close" }));
}
