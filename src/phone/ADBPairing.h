#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaly {

// The words of Android's wireless-debugging pairing (Android 11 and later): the code the
// phone scans, the services it then announces, and adb's answers to `pair` and `version`.
namespace ADBPairing {

// Announced by the phone once it has scanned the code: instance name = the code's name.
inline constexpr const char* kPairingType = "_adb-tls-pairing._tcp";
// Announced while wireless debugging is on; its port is the one `adb connect` dials.
inline constexpr const char* kConnectType = "_adb-tls-connect._tcp";
// platform-tools 30 brought `adb pair`.
inline constexpr int kFirstPairingVersion = 30;

// The text of the QR code: "WIFI:T:ADB;S:<name>;P:<password>;;". Both parts must be plain
// letters and digits, which need no escaping in this format.
std::string qrText(std::string_view name, std::string_view password);

// The platform-tools version of an `adb version` answer ("Version 29.0.6-debian" gives
// "29.0.6-debian"); none when no such line is there.
std::optional<std::string> parseVersion(std::string_view output);

// Whether a version from parseVersion knows `pair`; none when its first number is unreadable.
std::optional<bool> versionCanPair(std::string_view version);

// An adb that does not know `pair`: adb 29 prints its whole help ("global options:", ...), later
// ones answer "adb: unknown command pair".
bool isUnknownCommand(std::string_view output);

// "Successfully paired to 192.168.1.23:37105 [guid=adb-R58M12345-AbCdEf]".
bool pairSucceeded(std::string_view output);

// `text` with every occurrence of `secret` replaced, so a password never reaches error details.
std::string withoutSecret(std::string text, std::string_view secret);

} // namespace ADBPairing
} // namespace tessaly
