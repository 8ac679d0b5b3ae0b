#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "phone/ADBParser.h"

namespace tessaly {

// One phone however many links it has: a phone on the cable and on Wi-Fi at once is listed
// by adb twice, under two serials.
struct Phone {
    // What stays the same across cables, addresses and restarts: the USB serial number, which
    // a phone on Wi-Fi reports as its "ro.serialno" property.
    std::string identity;
    std::optional<std::string> model;
    // Its ready links, in adb's order.
    std::vector<Device> links;

    bool has(Device::Connection connection) const;
    // "Pixel 7" for adb's "Pixel_7"; the identity when adb gave no model.
    std::string name() const;
    // "USB", "Wi-Fi" or "USB + Wi-Fi"; `wifiLabel` replaces "Wi-Fi" (a hotspot link).
    std::string linkText(const std::string& wifiLabel = "Wi-Fi") const;

    bool operator==(const Phone&) const = default;
};

// Which phone the menu acts on when several are ready. Pure rules: the serials phones
// reported are handed in.
namespace PhoneChoice {

// serial -> the serial the phone itself reported (asked over Wi-Fi only).
using ReportedSerials = std::map<std::string, std::string>;

// The identity of a link: the reported serial, else the USB serial; a network link whose
// phone has not answered yet stands for itself.
std::string identityOf(const Device& device, const ReportedSerials& reported);

// The ready devices grouped into phones, in the order adb listed their first links.
std::vector<Phone> phones(const std::vector<Device>& devices, const ReportedSerials& reported);

// Whether the phone list needs the serial `device` reports: a ready network link whose
// identity is not known, at a time when it decides something (several ready links, or a
// remembered choice to match).
bool needsReportedSerial(const Device& device, const std::vector<Device>& devices,
    const ReportedSerials& reported, bool hasChoice);

struct Scope {
    // The devices the usual rules pick from: the chosen phone's links when it is ready,
    // otherwise every listed device.
    std::vector<Device> devices;
    // A phone was chosen, it is not ready, and another phone is used instead.
    bool chosenGone = false;
};
Scope scope(const std::vector<Device>& devices, const ReportedSerials& reported,
    const std::optional<std::string>& chosen);

// The serial a phone printed for "getprop ro.serialno"; none when it is not a usable serial.
std::optional<std::string> parseReportedSerial(std::string_view output);

} // namespace PhoneChoice
} // namespace tessaly
