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

TEST(StreamSettingsTest, PresetsInMenuOrderWithTitlesAndRawValues)
{
    const std::vector<std::tuple<QualityPreset, std::string, std::string>> expected {
        { QualityPreset::automatic, "auto", "Auto (best for your connection)" },
        { QualityPreset::lowLatency, "lowLatency", "Low latency (Wi-Fi)" },
        { QualityPreset::smooth, "smooth", "Smooth (Wi-Fi)" },
        { QualityPreset::lowLag, "lowLag", "Data saver (weak Wi-Fi)" },
        { QualityPreset::best, "best", "Best (USB)" },
    };
    ASSERT_EQ(allQualityPresets.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& [preset, raw, menuTitle] = expected[i];
        EXPECT_EQ(allQualityPresets[i], preset);
        EXPECT_EQ(rawValue(preset), raw);
        EXPECT_EQ(title(preset), menuTitle);
        EXPECT_EQ(qualityPresetFromRaw(raw), preset);
    }
}

TEST(StreamSettingsTest, UnknownRawValueGivesNoPreset)
{
    for (const std::string raw : { "", "Auto", "automatic", "best ", "lowlatency", "AUTO" })
        EXPECT_EQ(qualityPresetFromRaw(raw), std::nullopt) << raw;
}

TEST(StreamSettingsTest, SettingsForEverySituation)
{
    struct Case {
        QualityPreset preset;
        bool wireless;
        bool poor;
        StreamSettings expected;
    };
    const StreamSettings usbBest { "Auto → Best (USB)", { "--max-fps=60" }, std::nullopt, false };
    const StreamSettings weak { "Auto → Low latency, 2 Mbps (weak Wi-Fi)", lowLatencyArguments("2M"),
        kLowLatencyOptions, true };
    const StreamSettings autoWifi { "Auto → Low latency (Wi-Fi)", lowLatencyArguments("4M"),
        kLowLatencyOptions, true };
    const StreamSettings lowLatency { "Low latency (Wi-Fi)", lowLatencyArguments("4M"), kLowLatencyOptions,
        true };
    const StreamSettings smooth { "Smooth (Wi-Fi)",
        { "--max-size=1024", "--video-bit-rate=4M", "--max-fps=60" }, "bitrate-mode:int=2", false };
    const StreamSettings dataSaver { "Data saver (weak Wi-Fi)",
        { "--max-size=800", "--video-bit-rate=2M", "--max-fps=30" }, "bitrate-mode:int=2", false };
    const StreamSettings best { "Best (USB)", { "--max-fps=60" }, std::nullopt, false };

    const std::vector<Case> cases {
        { QualityPreset::automatic, false, false, usbBest },
        { QualityPreset::automatic, false, true, usbBest },
        { QualityPreset::automatic, true, true, weak },
        { QualityPreset::automatic, true, false, autoWifi },
        { QualityPreset::lowLatency, true, true, lowLatency },
        { QualityPreset::lowLatency, false, false, lowLatency },
        { QualityPreset::smooth, true, false, smooth },
        { QualityPreset::lowLag, true, true, dataSaver },
        { QualityPreset::best, false, false, best },
        { QualityPreset::best, true, true, best },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StreamSettings::forPreset(c.preset, c.wireless, c.poor), c.expected)
            << rawValue(c.preset) << " wireless=" << c.wireless << " poor=" << c.poor;
    }
}

TEST(StreamSettingsTest, ScrcpyArgumentsAddTuningOnlyOutsideSafeMode)
{
    const auto settings = StreamSettings::lowLatency("4M", "Low latency (Wi-Fi)");
    Arguments tuned = lowLatencyArguments("4M");
    tuned.push_back("--video-codec-options=" + kLowLatencyOptions);
    EXPECT_EQ(settings.scrcpyArguments(std::nullopt, false), tuned);
    tuned.push_back("--video-encoder=c2.qti.avc.encoder");
    EXPECT_EQ(settings.scrcpyArguments("c2.qti.avc.encoder", false), tuned);

    EXPECT_EQ(settings.scrcpyArguments("c2.qti.avc.encoder", true), lowLatencyArguments("4M"));
}

TEST(StreamSettingsTest, EncoderNameOnlyWhenWantedAndSafe)
{
    const auto best = StreamSettings::forPreset(QualityPreset::best, false, false);
    EXPECT_EQ(best.scrcpyArguments("c2.qti.avc.encoder", false), Arguments { "--max-fps=60" });

    const auto smooth = StreamSettings::forPreset(QualityPreset::smooth, true, false);
    EXPECT_EQ(smooth.scrcpyArguments("c2.qti.avc.encoder", false),
        (Arguments { "--max-size=1024", "--video-bit-rate=4M", "--max-fps=60",
            "--video-codec-options=bitrate-mode:int=2" }));

    const auto lowLatency = StreamSettings::forPreset(QualityPreset::lowLatency, true, false);
    const Arguments withoutEncoder = lowLatency.scrcpyArguments(std::nullopt, false);
    for (const std::string& unsafe : Arguments { "-c2.qti", "c2:qti", "c2 qti", std::string(101, 'e'), "" })
        EXPECT_EQ(lowLatency.scrcpyArguments(unsafe, false), withoutEncoder) << unsafe;
}

TEST(StreamSettingsTest, MirrorOptionArguments)
{
    EXPECT_EQ(MirrorOptions {}.arguments(), Arguments { "--no-audio" });
    EXPECT_EQ((MirrorOptions { true, true, true, true, true, true }.arguments()),
        (Arguments { "--turn-screen-off", "--keep-active", "--power-off-on-close", "--stay-awake",
            "--keyboard=uhid", "--print-fps", "--no-mouse-hover" }));
    MirrorOptions pocket;
    pocket.pocketMode = true;
    pocket.audio = true;
    EXPECT_EQ(
        pocket.arguments(), (Arguments { "--turn-screen-off", "--keep-active", "--power-off-on-close" }));
}

TEST(StreamSettingsTest, WholeCommandLineForLowLatencyOverWifi)
{
    MirrorOptions options;
    options.stayAwake = true;
    options.wireless = true;
    const auto settings = StreamSettings::forPreset(QualityPreset::lowLatency, true, false);
    Arguments commandLine = settings.scrcpyArguments("c2.exynos.h264.encoder", false);
    const Arguments optionArguments = options.arguments();
    commandLine.insert(commandLine.end(), optionArguments.begin(), optionArguments.end());
    EXPECT_EQ(commandLine,
        (Arguments { "--video-codec=h264", "--max-size=800", "--video-bit-rate=4M", "--max-fps=60",
            "--video-codec-options=" + kLowLatencyOptions, "--video-encoder=c2.exynos.h264.encoder",
            "--stay-awake", "--no-audio", "--no-mouse-hover" }));
}
