#include <gtest/gtest.h>

#include "mirroring/ScrcpyOutput.h"
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

TEST(ScrcpyOutputTest, FrameRateLines)
{
    const std::vector<std::pair<std::string, FPSReading>> readings { { "INFO: 60 fps", { 60, 0 } },
        { "INFO: 58 fps (+3 frames skipped)", { 58, 3 } }, { "INFO: 30 fps (+x frames skipped)", { 30, 0 } },
        { "INFO: 30 fps (+-4 frames skipped)", { 30, 0 } }, { "(+2 frames skipped) then 45 fps", { 45, 2 } },
        { "\r\x1b[KINFO: 24 fps\r", { 24, 0 } } };
    for (const auto& [line, reading] : readings)
        EXPECT_EQ(ScrcpyOutput::fps(line), reading) << line;
    for (const std::string line :
        { "INFO: x fps", "INFO: 60fps", "INFO: 60 FPS", " fps", "INFO: 99999999999 fps" })
        EXPECT_EQ(ScrcpyOutput::fps(line), std::nullopt) << line;
}

TEST(ScrcpyOutputTest, HardwareH264Encoder)
{
    const std::string list
        = "scrcpy 2.4 <https://github.com/Genymobile/scrcpy>\n"
          "[server] INFO: List of video encoders:\n"
          "    --video-codec=h264 --video-encoder=OMX.qcom.video.encoder.avc (hw) [vendor] "
          "(alias for c2.qti.avc.encoder)\n"
          "    --video-codec=h264 --video-encoder=c2.vendor.avc.encoder       (hw) [vendor]\n"
          "    --video-codec=h264 --video-encoder=c2.android.avc.encoder      (sw)\n"
          "    --video-codec=h265 --video-encoder=c2.qti.hevc.encoder         (hw) [vendor]\n";
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases {
        { list, "c2.vendor.avc.encoder" },
        { "--video-codec=h264 --video-encoder=c2.android.avc.encoder (sw)\n"
          "--video-codec=h265 --video-encoder=c2.qti.hevc.encoder (hw)\n",
            std::nullopt },
        // Unsafe names and lines without a name are passed over for the next qualifying line.
        { "--video-codec=h264 --video-encoder=c2:bad (hw)\n"
          "--video-codec=h264 --video-encoder=-c2.bad (hw)\n"
          "--video-codec=h264 (hw)\n"
          "--video-codec=h264 --video-encoder= (hw)\n"
          "--video-codec=h264 --video-encoder=c2.good.avc\t(hw)\r\n",
            "c2.good.avc" },
    };
    for (const auto& [output, expected] : cases)
        EXPECT_EQ(ScrcpyOutput::hardwareH264Encoder(output), expected) << output;
}

TEST(ScrcpyOutputTest, EncoderErrors)
{
    for (const std::string output : { "ERROR: Could not create video encoder",
             "ERROR: Capture/encoding error: java.lang.IllegalStateException",
             "android.media.MediaCodec$CodecException: Error 0xfffffff4",
             "java.lang.IllegalArgumentException" })
        EXPECT_TRUE(ScrcpyOutput::looksLikeEncoderError(output)) << output;
    for (const std::string output : { "using mediacodec", "ERROR: Could not find any ADB device", "" })
        EXPECT_FALSE(ScrcpyOutput::looksLikeEncoderError(output)) << output;
}
