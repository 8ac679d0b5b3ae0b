#include "controller/AppState.h"

#include <algorithm>

namespace tessaly {

namespace {

constexpr double kReportedSerialLimit = 5;

} // namespace

std::vector<Phone> AppState::phones() const
{
    return PhoneChoice::phones(m_devices, m_reportedSerials);
}

std::optional<std::string> AppState::chosenPhone() const
{
    return defaults().readString(kChosenPhone);
}

void AppState::choosePhone(const Phone& phone)
{
    defaults().writeString(kChosenPhone, phone.identity);
    defaults().writeString(kChosenPhoneName, phone.name());
    emit devicesChanged();
    emit changed();
}

PhoneChoice::Scope AppState::phoneScope(const std::vector<Device>& devices) const
{
    return PhoneChoice::scope(devices, m_reportedSerials, chosenPhone());
}

std::optional<std::string> AppState::actedOnPhone() const
{
    const PhoneChoice::Scope scope = phoneScope(m_devices);
    if (const std::optional<Device> picked = pickDevice(scope.devices))
        return PhoneChoice::identityOf(*picked, m_reportedSerials);
    const std::vector<Phone> ready = PhoneChoice::phones(scope.devices, m_reportedSerials);
    if (ready.empty())
        return std::nullopt;
    return ready.front().identity;
}

QCoro::Task<std::vector<Device>> AppState::chosenLinks(std::vector<Device> listed)
{
    co_await learnReportedSerials(listed);
    co_return phoneScope(listed).devices;
}

// A network link is a second serial for a phone that may also be on the cable; only the
// phone can say which one it is. "get-serialno" would answer with the link's own address.
QCoro::Task<> AppState::learnReportedSerials(std::vector<Device> listed)
{
    if (!m_adb)
        co_return;
    bool learned = std::erase_if(m_reportedSerials, [&listed](const auto& entry) {
        return std::none_of(
            listed.begin(), listed.end(), [&entry](const Device& d) { return d.serial == entry.first; });
    }) > 0;
    const bool hasChoice = chosenPhone().has_value();
    const ADB adb = *m_adb;
    for (const Device& device : listed) {
        if (!PhoneChoice::needsReportedSerial(device, listed, m_reportedSerials, hasChoice)
            || m_askingSerial.contains(device.serial))
            continue;
        m_askingSerial.insert(device.serial);
        std::vector<std::string> arguments { "-s", device.serial, "shell", "getprop", "ro.serialno" };
        const ProcessResult answer = co_await adb.run(std::move(arguments), kReportedSerialLimit);
        m_askingSerial.erase(device.serial);
        const auto reported = answer.exitCode == 0 && !answer.timedOut
            ? PhoneChoice::parseReportedSerial(answer.stdOut)
            : std::nullopt;
        if (reported) {
            m_reportedSerials[device.serial] = *reported;
            learned = true;
        }
    }
    if (learned) {
        emit devicesChanged();
        emit changed();
    }
}

} // namespace tessaly
