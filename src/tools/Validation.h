#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tessaly {

// The one place that decides which outside values may reach a tool's command line or be
// trusted as a network address. Every predicate is total: it answers false or none for
// anything it does not accept, and never repairs a value into an acceptable form.
namespace Validation {

// A device-list serial: 1 to 128 of ASCII letters, digits, "._:-", not beginning with "-".
bool isSafeSerial(std::string_view text);

// An encoder name reported by scrcpy: 1 to 100 of ASCII letters, digits, "._-", not beginning with "-".
bool isSafeEncoderName(std::string_view text);

// One name inside a phone folder: valid UTF-8 of 1 to 255 bytes, not "." or "..",
// no control character, "/" or DEL.
bool isSafeFileName(std::string_view text);

// "/sdcard" or a path below it whose every piece is a safe file name, at most 1,024 bytes.
bool isSafePhonePath(std::string_view text);

// A strict dotted-decimal IPv4 address ("192.168.1.5"; no leading zeros, signs or spaces).
std::optional<std::array<int, 4>> parseIPv4(std::string_view text);

// A host address inside 10/8, 172.16/12 or 192.168/16 whose last number is neither 0 nor 255.
bool isPrivateLANIPv4(std::string_view text);

struct HostPort {
    std::string ip;
    int port = 0;
    bool operator==(const HostPort&) const = default;
};

// The serial of a phone connected over the home network ("192.168.1.5:5555"), port 1,024 to 65,535.
std::optional<HostPort> privateHostPort(std::string_view text);

} // namespace Validation
} // namespace tessaly
