#include "mirroring/StreamSettings.h"

#include "tools/Validation.h"

namespace tessaly {

namespace {

constexpr std::string_view kLowLatencyCodecOptions = "bitrate-mode:int=2,priority:int=0,latency:int=1";
constexpr std::string_view kConstantBitRateCodecOptions = "bitrate-mode:int=2";

StreamSettings bestSettings(std::string label)
{
    return { std::move(label), { "--max-fps=60" }, std::nullopt, false };
}

} // namespace

std::string_view rawValue(QualityPreset preset)
{
    switch (preset) {
    case QualityPreset::automatic:
        return "auto";
    case QualityPreset::lowLatency:
        return "lowLatency";
    case QualityPreset::smooth:
        return "smooth";
    case QualityPreset::lowLag:
        return "lowLag";
    case QualityPreset::best:
        return "best";
    }
    return {};
}

std::string_view title(QualityPreset preset)
{
    switch (preset) {
    case QualityPreset::automatic:
        return "Auto (best for your connection)";
    case QualityPreset::lowLatency:
        return "Low latency (Wi-Fi)";
    case QualityPreset::smooth:
        return "Smooth (Wi-Fi)";
    case QualityPreset::lowLag:
        return "Data saver (weak Wi-Fi)";
    case QualityPreset::best:
        return "Best (USB)";
    }
    return {};
}

std::optional<QualityPreset> qualityPresetFromRaw(std::string_view raw)
{
    for (const QualityPreset preset : allQualityPresets) {
        if (rawValue(preset) == raw)
            return preset;
    }
    return std::nullopt;
}

StreamSettings StreamSettings::lowLatency(std::string_view bitRate, std::string label)
{
    return {
        std::move(label),
        { "--video-codec=h264", "--max-size=800", "--video-bit-rate=" + std::string(bitRate),
            "--max-fps=60" },
        std::string(kLowLatencyCodecOptions),
        true,
    };
}

StreamSettings StreamSettings::forPreset(QualityPreset preset, bool isWireless, bool poorQuality)
{
    switch (preset) {
    case QualityPreset::automatic:
        if (!isWireless)
            return bestSettings("Auto → Best (USB)");
        if (poorQuality)
            return lowLatency("2M", "Auto → Low latency, 2 Mbps (weak Wi-Fi)");
        return lowLatency("4M", "Auto → Low latency (Wi-Fi)");
    case QualityPreset::lowLatency:
        return lowLatency("4M", std::string(title(preset)));
    case QualityPreset::smooth:
        return { std::string(title(preset)), { "--max-size=1024", "--video-bit-rate=4M", "--max-fps=60" },
            std::string(kConstantBitRateCodecOptions), false };
    case QualityPreset::lowLag:
        return { std::string(title(preset)), { "--max-size=800", "--video-bit-rate=2M", "--max-fps=30" },
            std::string(kConstantBitRateCodecOptions), false };
    case QualityPreset::best:
        break;
    }
    return bestSettings(std::string(title(QualityPreset::best)));
}

std::vector<std::string> StreamSettings::scrcpyArguments(
    const std::optional<std::string>& hardwareEncoder, bool safeMode) const
{
    std::vector<std::string> result = arguments;
    // Safe mode is the retry after the phone's encoder refused the tuned settings.
    if (safeMode)
        return result;
    if (codecOptions)
        result.push_back("--video-codec-options=" + *codecOptions);
    if (wantsHardwareEncoder && hardwareEncoder && Validation::isSafeEncoderName(*hardwareEncoder))
        result.push_back("--video-encoder=" + *hardwareEncoder);
    return result;
}

std::vector<std::string> MirrorOptions::arguments() const
{
    std::vector<std::string> result;
    if (pocketMode) {
        result.insert(result.end(), { "--turn-screen-off", "--keep-active", "--power-off-on-close" });
    }
    if (stayAwake)
        result.push_back("--stay-awake");
    if (realKeyboard)
        result.push_back("--keyboard=uhid");
    if (!audio)
        result.push_back("--no-audio");
    if (showFPS)
        result.push_back("--print-fps");
    if (wireless)
        result.push_back("--no-mouse-hover");
    return result;
}

} // namespace tessaly
