#include <gtest/gtest.h>

#include "mirroring/ScrcpyOutput.h"

using namespace tessaly;

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
