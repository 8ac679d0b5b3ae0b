#include "phone/ADBParser.h"

#include <algorithm>
#include <charconv>

#include "tools/Validation.h"

namespace tessaly::ADBParser {

namespace {

// Calls `visit` for every non-empty piece of `text` between any of `separators`.
template <typename Visit> void forEachPiece(std::string_view text, std::string_view separators, Visit&& visit)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of(separators, start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start && !visit(text.substr(start, end - start)))
            return;
        start = end + 1;
    }
}

// adb's answers may come with CRLF line ends; a carriage return is never part of a value.
constexpr std::string_view kLineBreaks = "\n\r";
constexpr std::string_view kFieldBreaks = " \t\r";

std::vector<std::string_view> fieldsOf(std::string_view line)
{
    std::vector<std::string_view> fields;
    forEachPiece(line, kFieldBreaks, [&](std::string_view field) {
        fields.push_back(field);
        return true;
    });
    return fields;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::optional<std::string> validIPv4(std::string_view text)
{
    if (!Validation::parseIPv4(text))
        return std::nullopt;
    return std::string(text);
}

} // namespace

std::vector<Device> parseDevices(std::string_view output)
{
    std::vector<Device> devices;
    forEachPiece(output, kLineBreaks, [&](std::string_view line) {
        if (startsWith(line, "List of") || startsWith(line, "*"))
            return true;
        const auto fields = fieldsOf(line);
        if (fields.size() < 2 || !Validation::isSafeSerial(fields[0]))
            return true;
        Device device;
        device.serial = std::string(fields[0]);
        device.state = std::string(fields[1]);
        for (const std::string_view field : fields) {
            if (startsWith(field, "model:")) {
                device.model = std::string(field.substr(6));
                break;
            }
        }
        device.connection = connectionType(device.serial);
        devices.push_back(std::move(device));
        return true;
    });
    return devices;
}

Device::Connection connectionType(std::string_view serial)
{
    if (serial.find("._adb-tls-connect._tcp") != std::string_view::npos)
        return Device::Connection::wifi;
    std::vector<std::string_view> pieces;
    forEachPiece(serial, ":", [&](std::string_view piece) {
        pieces.push_back(piece);
        return pieces.size() <= 2;
    });
    if (pieces.size() == 2 && Validation::parseIPv4(pieces[0]))
        return Device::Connection::wifi;
    return Device::Connection::usb;
}

// A route line looks like: 192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.23
std::optional<std::string> parseIPFromRoute(std::string_view output)
{
    std::optional<std::string> address;
    forEachPiece(output, kLineBreaks, [&](std::string_view line) {
        if (line.find("wlan") == std::string_view::npos)
            return true;
        const auto fields = fieldsOf(line);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i] == "src") {
                if (i + 1 < fields.size())
                    address = validIPv4(fields[i + 1]);
                break;
            }
        }
        return !address;
    });
    return address;
}

// An address line looks like: inet 192.168.1.23/24 brd 192.168.1.255 scope global wlan0
std::optional<std::string> parseIPFromAddr(std::string_view output)
{
    std::optional<std::string> address;
    forEachPiece(output, kLineBreaks, [&](std::string_view line) {
        const auto fields = fieldsOf(line);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i] == "inet") {
                if (i + 1 < fields.size()) {
                    const std::string_view value = fields[i + 1];
                    const std::string_view beforePrefix = value.substr(0, value.find('/'));
                    if (!beforePrefix.empty())
                        address = validIPv4(beforePrefix);
                }
                break;
            }
        }
        return !address;
    });
    return address;
}

// The status names the link in one long comma-separated line: ..., RSSI: -55, Frequency: 5180MHz, ...
std::optional<int> parseWifiFrequency(std::string_view output)
{
    if (output.find("Wifi is connected") == std::string_view::npos)
        return std::nullopt;
    std::optional<std::string_view> piece;
    forEachPiece(output, ",\n", [&](std::string_view candidate) {
        const std::size_t first = candidate.find_first_not_of(" \t\r");
        if (first != std::string_view::npos && startsWith(candidate.substr(first), "Frequency:")) {
            piece = candidate.substr(first + 10);
            return false;
        }
        return true;
    });
    if (!piece)
        return std::nullopt;
    const std::string_view rest = piece->substr(std::min(piece->find_first_not_of(' '), piece->size()));
    const std::string_view digits
        = rest.substr(0, std::min(rest.find_first_not_of("0123456789"), rest.size()));
    if (digits.empty())
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

} // namespace tessaly::ADBParser
