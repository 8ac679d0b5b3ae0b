#include "controller/PhoneChoice.h"

#include <algorithm>

#include "tools/ProcessRunner.h"
#include "tools/Validation.h"

namespace tessaly {

namespace {

bool isReady(const Device& device)
{
    return device.state == "device";
}

} // namespace

bool Phone::has(Device::Connection connection) const
{
    return std::any_of(
        links.begin(), links.end(), [connection](const Device& d) { return d.connection == connection; });
}

std::string Phone::name() const
{
    if (!model)
        return identity;
    // adb writes the spaces of a model name as underscores.
    std::string readable = *model;
    std::replace(readable.begin(), readable.end(), '_', ' ');
    return readable;
}

std::string Phone::linkText(const std::string& wifiLabel) const
{
    const bool usb = has(Device::Connection::usb);
    const bool wifi = has(Device::Connection::wifi);
    if (usb && wifi)
        return "USB + " + wifiLabel;
    return usb ? "USB" : wifiLabel;
}

namespace PhoneChoice {

std::string identityOf(const Device& device, const ReportedSerials& reported)
{
    const auto found = reported.find(device.serial);
    return found != reported.end() ? found->second : device.serial;
}

std::vector<Phone> phones(const std::vector<Device>& devices, const ReportedSerials& reported)
{
    std::vector<Phone> found;
    for (const Device& device : devices) {
        if (!isReady(device))
            continue;
        const std::string identity = identityOf(device, reported);
        auto phone = std::find_if(
            found.begin(), found.end(), [&identity](const Phone& p) { return p.identity == identity; });
        if (phone == found.end())
            phone = found.insert(found.end(), Phone { identity, std::nullopt, {} });
        if (!phone->model)
            phone->model = device.model;
        phone->links.push_back(device);
    }
    return found;
}

bool needsReportedSerial(
    const Device& device, const std::vector<Device>& devices, const ReportedSerials& reported, bool hasChoice)
{
    if (!isReady(device) || device.connection != Device::Connection::wifi || reported.contains(device.serial))
        return false;
    return hasChoice || std::count_if(devices.begin(), devices.end(), isReady) > 1;
}

Scope scope(const std::vector<Device>& devices, const ReportedSerials& reported,
    const std::optional<std::string>& chosen)
{
    if (!chosen)
        return { devices, false };
    std::vector<Device> links;
    for (const Device& device : devices)
        if (isReady(device) && identityOf(device, reported) == *chosen)
            links.push_back(device);
    if (!links.empty())
        return { std::move(links), false };
    return { devices, std::any_of(devices.begin(), devices.end(), isReady) };
}

std::optional<std::string> parseReportedSerial(std::string_view output)
{
    // Some phones end the answer with CR LF, and adb's server notices may come first.
    std::string last;
    while (!output.empty()) {
        const std::size_t end = std::min(output.find('\n'), output.size());
        const std::string line = ProcessRunner::trimWhitespace(output.substr(0, end));
        output.remove_prefix(std::min(end + 1, output.size()));
        if (!line.empty() && !line.starts_with('*'))
            last = line;
    }
    if (!Validation::isSafeSerial(last) || last == "unknown")
        return std::nullopt;
    return last;
}

} // namespace PhoneChoice
} // namespace tessaly
