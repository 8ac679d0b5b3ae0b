#include "phone/WiFiBand.h"

namespace tessaly {

std::string_view rawValue(WiFiBand band)
{
    switch (band) {
    case WiFiBand::ghz2_4:
        return "2.4 GHz";
    case WiFiBand::ghz5:
        return "5 GHz";
    case WiFiBand::ghz6:
        return "6 GHz";
    }
    return {};
}

std::optional<WiFiBand> wifiBandFromFrequencyMHz(std::int64_t frequencyMHz)
{
    if (frequencyMHz >= 2400 && frequencyMHz <= 2499)
        return WiFiBand::ghz2_4;
    if (frequencyMHz >= 4900 && frequencyMHz <= 5924)
        return WiFiBand::ghz5;
    if (frequencyMHz >= 5925 && frequencyMHz <= 7199)
        return WiFiBand::ghz6;
    return std::nullopt;
}

} // namespace tessaly
