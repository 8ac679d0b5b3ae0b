#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "phone/WiFiBand.h"

namespace tessaly {

// The round-trip times of one ping burst, in the order the replies were printed.
struct PingResult {
    std::vector<double> times; // milliseconds
    int sent = 0; // echo requests asked for

    // The upper middle of the sorted times; none without replies.
    std::optional<double> medianMs() const;
    // The mean change between consecutive replies; 0 with fewer than two.
    double jitterMs() const;
    // The share of counted requests that got no reply, in percent. The two warm-up
    // replies that `parse` drops count as neither sent nor lost.
    double lossPercent() const;

    // Reads iputils ping output. A reply line looks like:
    //   64 bytes from 192.168.1.5: icmp_seq=3 ttl=64 time=4.25 ms
    // Replies 1 and 2 only warm up the path (ARP, radio wake-up) and are not counted.
    static PingResult parse(std::string_view output, int sent);
};

// How good the link between this computer and the phone is.
struct ConnectionQuality {
    enum class Link { usb, router, hotspot };
    enum class Rating { good, ok, poor };

    Link link = Link::usb;
    std::optional<WiFiBand> phoneBand; // measured only through the home router
    std::optional<WiFiBand> macBand;
    std::optional<PingResult> ping;
    bool canPing = true; // false when the phone's serial carries no private address
    double measuredAt = 0; // seconds on the controller's clock

    Rating rating() const;
    bool isOn2_4GHz() const;
    // "Connection: OK · ping 12 ms · jitter 3 ms"
    std::string summaryLine() const;
    // "Wi-Fi: phone 5 GHz · computer ? (via router)"; none for a cable.
    std::optional<std::string> bandLine() const;
    // Whether the menu suggests a better link (`tipLine`).
    bool showsTip() const;

    // Shown while the first measurement runs.
    static constexpr std::string_view checkingLine = "Connection: checking…";
    static constexpr std::string_view tipLine = "💡 Switch to 5 GHz or use Hotspot mode";
    static constexpr std::string_view hotspotDataLine
        = "📶 This computer is using your phone’s data while on hotspot";
};

// "Good", "OK" or "Poor".
std::string_view ratingWord(ConnectionQuality::Rating rating);

} // namespace tessaly
