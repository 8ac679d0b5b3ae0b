#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// One phone as `adb devices -l` lists it.
struct Device {
    enum class Connection { usb, wifi };

    // What adb accepts after "-s": a USB serial number, "ip:port", or an mDNS service instance name.
    std::string serial;
    // The list's second column as printed ("device" when usable; "unauthorized", "offline", ...).
    std::string state;
    std::optional<std::string> model;
    Connection connection = Connection::usb;

    bool operator==(const Device&) const = default;
};

// Pure readers of adb's text answers. They skip whatever they cannot read and never throw.
namespace ADBParser {

// Rows of `adb devices -l` whose serial is safe, in printed order; the header and the
// server's "* daemon ..." notices are skipped.
std::vector<Device> parseDevices(std::string_view output);

// wifi for an mDNS wireless-debugging serial or "ipv4:anything"; usb for every other form.
Device::Connection connectionType(std::string_view serial);

// The "src" address of the first wlan route in `ip route`.
std::optional<std::string> parseIPFromRoute(std::string_view output);

// The first "inet" address in `ip -f inet addr show wlan0`, without its prefix length.
std::optional<std::string> parseIPFromAddr(std::string_view output);

// The "Frequency:" of `cmd wifi status` in MHz, only while it reports "Wifi is connected".
std::optional<int> parseWifiFrequency(std::string_view output);

} // namespace ADBParser
} // namespace tessaly
