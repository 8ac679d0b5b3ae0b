#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// The quality choices of the menu, in menu order. The raw value is the stored form.
// (`automatic` stands for the raw value "auto", a C++ keyword.)
enum class QualityPreset { automatic, lowLatency, smooth, lowLag, best };

inline constexpr std::array<QualityPreset, 5> allQualityPresets {
    QualityPreset::automatic,
    QualityPreset::lowLatency,
    QualityPreset::smooth,
    QualityPreset::lowLag,
    QualityPreset::best,
};

std::string_view rawValue(QualityPreset preset);
// The menu's text, e.g. "Auto (best for your connection)".
std::string_view title(QualityPreset preset);
// None for an unknown stored value; the caller falls back to automatic.
std::optional<QualityPreset> qualityPresetFromRaw(std::string_view raw);

// The options of one mirroring session.
struct StreamSettings {
    std::string label; // shown in the menu while mirroring runs
    std::vector<std::string> arguments; // the preset's own scrcpy arguments
    std::optional<std::string> codecOptions; // encoder tuning, left out in safe mode
    bool wantsHardwareEncoder = false; // name the phone's hardware H.264 encoder explicitly

    bool operator==(const StreamSettings&) const = default;

    // H.264 at 800 pixels and 60 fps with the given bit rate ("4M", "2M") and latency tuning.
    static StreamSettings lowLatency(std::string_view bitRate, std::string label);

    // The settings for a preset on the given link; `poorQuality` is whether a recent measurement
    // rated the Wi-Fi link poor, and matters only for the automatic preset over Wi-Fi.
    static StreamSettings forPreset(QualityPreset preset, bool isWireless, bool poorQuality);

    // `arguments`, then (unless in safe mode) the codec options and a safe hardware encoder name.
    std::vector<std::string> scrcpyArguments(
        const std::optional<std::string>& hardwareEncoder, bool safeMode) const;
};

// On/off choices that the controller fills from the user's settings and the link.
struct MirrorOptions {
    bool pocketMode = false;
    bool stayAwake = false;
    bool realKeyboard = false;
    bool audio = false;
    bool showFPS = false;
    bool wireless = false;

    bool operator==(const MirrorOptions&) const = default;

    std::vector<std::string> arguments() const;
};

} // namespace tessaly
