#include "controller/AppState.h"

#include <algorithm>
#include <cctype>

#include "tools/Text.h"
#include "tools/Validation.h"

namespace tessaly {

namespace {

constexpr double kTcpipLimit = 10;
constexpr double kServerLimit = 10;
constexpr double kUsbLimit = 10;
constexpr double kDisconnectLimit = 10;
// The phone's adb daemon restarts in network mode before it answers.
constexpr double kDaemonRestartWait = 2.0;
constexpr double kBetweenAttemptsWait = 1.0;
constexpr int kFirstAttempts = 5;
constexpr int kAttemptsAfterRestart = 3;
constexpr int kHotspotAttemptsAfterTcpip = 2;

bool mentionsNoRoute(const std::string& output)
{
    return asciiLowercase(output).find("no route to host") != std::string::npos;
}

bool isReady(const Device& device)
{
    return device.state == "device" && Validation::isSafeSerial(device.serial);
}

std::optional<Device> firstReady(const std::vector<Device>& devices, Device::Connection connection)
{
    for (const Device& d : devices)
        if (isReady(d) && d.connection == connection)
            return d;
    return std::nullopt;
}

// Only a home-network address is ever dialled, remembered as the phone's, or opened for.
std::optional<std::string> privateOnly(std::optional<std::string> address)
{
    if (address && !Validation::isPrivateLANIPv4(*address))
        return std::nullopt;
    return address;
}

// Whether both addresses share their first three numbers: the computer's router sits in
// the subnet the phone had at home.
bool sameSubnet24(const std::string& a, const std::string& b)
{
    const auto first = Validation::parseIPv4(a);
    const auto second = Validation::parseIPv4(b);
    return first && second && std::equal(first->begin(), first->begin() + 3, second->begin());
}

QCoro::Task<> backToUSB(ADB adb, std::string serial)
{
    std::vector<std::string> arguments { "-s", std::move(serial), "usb" };
    co_await adb.run(std::move(arguments), kUsbLimit);
}

QCoro::Task<ProcessResult> openNetworkDebugging(ADB adb, std::string serial, int port)
{
    std::vector<std::string> arguments { "-s", std::move(serial), "tcpip", std::to_string(port) };
    co_return co_await adb.run(std::move(arguments), kTcpipLimit);
}

FriendlyError noUSBPhone()
{
    return { "Plug in your phone first.",
        "“Go Wireless” needs the USB cable connected once. Plug it in, unlock the phone, then try again.",
        "" };
}

FriendlyError noWiFiAddress()
{
    return { "Couldn’t find your phone’s Wi-Fi address.",
        "Make sure Wi-Fi is turned ON on the phone and it’s connected to your home network. (Using the "
        "phone’s hotspot instead? Use “Hotspot Mode” in the menu.)",
        "" };
}

FriendlyError notAHomeNetwork(const std::string& ip)
{
    return { "That network doesn’t look like a home network.",
        "Your phone’s address (" + ip
            + ") isn’t a private home-network address, so Tessaly refused to turn on wireless debugging "
              "for safety.",
        "" };
}

FriendlyError tcpipFailed(std::string details)
{
    return { "The phone didn’t switch to wireless mode.",
        "Unplug and replug the cable, tap Allow if asked, and try again.", std::move(details) };
}

FriendlyError connectionBlocked(std::string details)
{
    return { "Something on this computer is blocking the connection to your phone.",
        "Check that your firewall lets Tessaly reach your home network (for example `sudo ufw allow out to "
        "192.168.0.0/16`). Then click “Go Wireless” once more.\nThe cable still works in the meantime.",
        std::move(details) };
}

FriendlyError wifiConnectFailed(std::string details)
{
    return { "Couldn’t connect over Wi-Fi.",
        "Make sure the computer and phone are on the same Wi-Fi network (not a guest network), then try "
        "again.",
        std::move(details) };
}

FriendlyError notOnHotspot()
{
    return { "This computer isn’t connected to a Wi-Fi hotspot.",
        "1. On your phone, turn on Hotspot (Settings → Connection & sharing → Portable hotspot).\n2. On "
        "your computer, open the Wi-Fi menu and join the phone’s hotspot.\n3. Click “Connect via Hotspot” "
        "again.",
        "" };
}

FriendlyError hotspotFailed(bool onHomeWiFi, std::string details)
{
    return { onHomeWiFi ? "This computer seems to be on your home Wi-Fi, not the phone’s hotspot."
                        : "Couldn’t connect through the hotspot.",
        "Check:\n• This computer is joined to your phone’s hotspot (open the Wi-Fi menu).\n• Wireless "
        "debugging is on: plug in the USB cable, then click “Connect via Hotspot” again.\n  (It turns off "
        "whenever the phone restarts or after “Disconnect Wireless”.)",
        std::move(details) };
}

FriendlyError phoneNotReached()
{
    return { "Disconnected, but the phone couldn’t be reached.",
        "This computer is disconnected. The phone may still be listening for wireless debugging until it "
        "restarts. To be sure: plug in the cable and click “Disconnect Wireless” again, or restart the "
        "phone.",
        "" };
}

} // namespace

void AppState::goWireless()
{
    if (m_busyMessage)
        return;
    launchTask(goWirelessNow());
}

void AppState::connectHotspot()
{
    if (m_busyMessage)
        return;
    launchTask(connectHotspotNow());
}

void AppState::disconnectWireless()
{
    if (m_busyMessage)
        return;
    launchTask(disconnectWirelessNow());
}

QCoro::Task<> AppState::goWirelessNow()
{
    if (!m_adb) {
        showError(missingToolsError());
        co_return;
    }
    const ADB adb = *m_adb;
    setBusyMessage("Checking the USB connection…");
    std::vector<Device> listed = co_await listDevices();
    setDevices(listed);
    const std::optional<Device> phone = firstReady(co_await chosenLinks(listed), Device::Connection::usb);
    if (!phone) {
        showError(noUSBPhone());
        co_return;
    }

    setBusyMessage("Finding your phone’s Wi-Fi address…");
    const std::optional<std::string> ip = co_await adb.wifiIP(phone->serial);
    if (!ip) {
        showError(noWiFiAddress());
        co_return;
    }
    if (!Validation::isPrivateLANIPv4(*ip)) {
        showError(notAHomeNetwork(*ip));
        co_return;
    }

    setBusyMessage("Turning on wireless debugging…");
    const ProcessResult opened = co_await openNetworkDebugging(adb, phone->serial, wirelessPort());
    if (opened.exitCode != 0 || opened.timedOut) {
        // A command that timed out or failed late may have switched the phone all the same.
        co_await backToUSB(adb, phone->serial);
        showError(tcpipFailed(opened.combinedOutput()));
        co_return;
    }
    co_await m_services.clock->sleep(kDaemonRestartWait);

    setBusyMessage("Connecting to " + *ip + "…");
    std::optional<std::string> failure = co_await connectOverWiFi(*ip, kFirstAttempts);
    if (failure && mentionsNoRoute(*failure)) {
        // A fresh local server often gets through where the old one cached a dead route.
        setBusyMessage("Restarting the connection…");
        std::vector<std::string> killServer { "kill-server" };
        co_await adb.run(std::move(killServer), kServerLimit);
        std::vector<std::string> startServer { "start-server" };
        co_await adb.run(std::move(startServer), kServerLimit);
        co_await m_services.clock->sleep(kDaemonRestartWait);
        setBusyMessage("Connecting to " + *ip + "…");
        failure = co_await connectOverWiFi(*ip, kAttemptsAfterRestart);
    }
    if (failure) {
        // Never leave the phone listening on the network after a failure.
        co_await backToUSB(adb, phone->serial);
        showError(mentionsNoRoute(*failure) ? connectionBlocked(*failure) : wifiConnectFailed(*failure));
        co_return;
    }

    defaults().writeString(kLastPhoneIP, *ip);
    defaults().writeBool(kLastWasHotspot, false);
    co_await refresh();
    showSuccess("Wireless is ready! 🎉",
        "Connected to your phone at " + *ip
            + ".\nYou can unplug the USB cable now, then click “Mirror Phone”.\n\nWhen you're done, use "
              "“Disconnect Wireless” to switch it off.");
}

QCoro::Task<std::optional<std::string>> AppState::connectOverWiFi(std::string ip, int tries)
{
    if (!m_adb)
        co_return std::string("adb was not found.");
    const ADB adb = *m_adb;
    const int attempts = std::max(tries, 1);
    for (int attempt = 1;; ++attempt) {
        const ADB::ConnectResult result = co_await adb.connect(ip, wirelessPort());
        if (result.ok)
            co_return std::nullopt;
        if (attempt >= attempts)
            co_return result.output;
        co_await m_services.clock->sleep(kBetweenAttemptsWait);
    }
}

QCoro::Task<> AppState::connectHotspotNow()
{
    if (!m_adb) {
        showError(missingToolsError());
        co_return;
    }
    const ADB adb = *m_adb;
    const int port = wirelessPort();
    setBusyMessage("Looking for your phone’s hotspot…");
    const std::optional<std::string> router = privateOnly(m_services.network->wifiRouterIP());
    if (!router) {
        showError(notOnHotspot());
        co_return;
    }

    publish(m_macRouterIP, *router, &AppState::macRouterIPChanged);
    const std::string connecting = "Connecting to your phone at " + *router + "…";
    setBusyMessage(connecting);
    ADB::ConnectResult attempt = co_await adb.connect(*router, port);
    const std::vector<Device> listed = co_await listDevices();
    const std::optional<Device> usbPhone = firstReady(co_await chosenLinks(listed), Device::Connection::usb);

    if (!attempt.ok && usbPhone) {
        // Wireless debugging is off (the phone restarted, or it was switched off): the cable
        // can switch it on again.
        setBusyMessage("Turning on wireless debugging…");
        co_await openNetworkDebugging(adb, usbPhone->serial, port);
        co_await m_services.clock->sleep(kDaemonRestartWait);
        setBusyMessage(connecting);
        for (int i = 0; i < kHotspotAttemptsAfterTcpip && !attempt.ok; ++i) {
            attempt = co_await adb.connect(*router, port);
            if (!attempt.ok)
                co_await m_services.clock->sleep(kBetweenAttemptsWait);
        }
        if (!attempt.ok)
            co_await backToUSB(adb, usbPhone->serial);
    }

    if (!attempt.ok) {
        const std::optional<std::string> lastPhoneIP = privateOnly(defaults().readString(kLastPhoneIP));
        showError(hotspotFailed(lastPhoneIP && sameSubnet24(*lastPhoneIP, *router), attempt.output));
        co_return;
    }

    defaults().writeBool(kLastWasHotspot, true);
    co_await refresh();
    showSuccess("Connected directly to your phone 🎉",
        "Tessaly is now talking to your phone through its hotspot, with no router in between.\nYou can "
        "unplug the cable and click “Mirror Phone”.\n\nNote: while your computer is on the phone’s hotspot, "
        "it uses the phone’s mobile data for internet.");
}

QCoro::Task<> AppState::disconnectWirelessNow()
{
    if (!m_adb) {
        showError(missingToolsError());
        co_return;
    }
    const ADB adb = *m_adb;
    setBusyMessage("Turning off wireless debugging…");
    const std::vector<Device> all = co_await listDevices();
    std::vector<Device> listed = co_await chosenLinks(all);
    // Narrowed to the chosen phone, the other phones keep their links and the remembered
    // address may be theirs.
    const bool narrowed = listed.size() != all.size();
    // A session over the network is about to lose its link; a cable session keeps running.
    if (m_mirroredSerial && ADB::connectionType(*m_mirroredSerial) == Device::Connection::wifi
        && (!narrowed || std::any_of(listed.begin(), listed.end(), [this](const Device& d) {
               return d.serial == *m_mirroredSerial;
           })))
        m_scrcpy->stop();
    std::optional<std::string> savedIP
        = narrowed ? std::nullopt : privateOnly(defaults().readString(kLastPhoneIP));
    AdbRun run = [adb](std::vector<std::string> arguments) {
        return adb.run(std::move(arguments), kDisconnectLimit);
    };
    const bool reached
        = co_await switchOffWireless(std::move(listed), std::move(savedIP), wirelessPort(), std::move(run));

    co_await refresh();
    publish(m_quality, std::nullopt, &AppState::qualityChanged);
    if (!reached)
        showError(phoneNotReached());
    setBusyMessage(std::nullopt);
}

QCoro::Task<bool> AppState::switchOffWireless(
    std::vector<Device> devices, std::optional<std::string> savedIP, int port, AdbRun run)
{
    std::optional<Device> target = firstReady(devices, Device::Connection::wifi);
    if (!target)
        target = firstReady(devices, Device::Connection::usb);

    bool reached = false;
    if (target) {
        std::vector<std::string> arguments { "-s", target->serial, "usb" };
        const ProcessResult result = co_await run(std::move(arguments));
        reached = result.exitCode == 0 && !result.timedOut;
    }

    // Dropping a link only closes adb's own end, so every listed one goes, whatever its address.
    std::vector<std::string> addresses;
    const auto add = [&addresses](std::string address) {
        if (Validation::isSafeSerial(address)
            && std::find(addresses.begin(), addresses.end(), address) == addresses.end())
            addresses.push_back(std::move(address));
    };
    for (const Device& d : devices)
        if (d.connection == Device::Connection::wifi)
            add(d.serial);
    if (savedIP && Validation::isPrivateLANIPv4(*savedIP))
        add(*savedIP + ":" + std::to_string(port));

    for (std::string& address : addresses) {
        std::vector<std::string> arguments { "disconnect", std::move(address) };
        co_await run(std::move(arguments));
    }
    co_return reached;
}

} // namespace tessaly
