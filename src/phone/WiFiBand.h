#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tessaly {

// The band of a Wi-Fi link, of the phone or of this computer.
enum class WiFiBand { ghz2_4, ghz5, ghz6 };

inline constexpr std::array<WiFiBand, 3> allWiFiBands { WiFiBand::ghz2_4, WiFiBand::ghz5, WiFiBand::ghz6 };

// "2.4 GHz", "5 GHz" or "6 GHz": the text the menu shows for the band.
std::string_view rawValue(WiFiBand band);

// 2400-2499 MHz is 2.4 GHz, 4900-5924 MHz is 5 GHz, 5925-7199 MHz is 6 GHz; anything else none.
std::optional<WiFiBand> wifiBandFromFrequencyMHz(std::int64_t frequencyMHz);

} // namespace tessaly
