#include <algorithm>

#include <gtest/gtest.h>

#include "support/ControllerFakes.h"

// Wireless debugging is opened or dialled only on private home-network addresses. Each
// operation is driven with the phone's address, this computer's router and the remembered
// address all taken from a refused range; the stand-in adb's log must show no wireless
// command (and no argument at all) naming that address.

namespace tessaly {
namespace {

using test::ControllerRig;
using test::deviceList;
using Args = std::vector<std::string>;

struct Refused {
    const char* range;
    std::string address;
};

const std::vector<Refused> kRefused {
    { "public", "8.8.8.8" },
    { "public, next to 10/8", "11.0.0.5" },
    { "public, next to 172.16/12", "172.32.0.5" },
    { "public, next to 192.168/16", "192.169.0.5" },
    { "loopback", "127.0.0.1" },
    { "link-local", "169.254.10.20" },
    { "carrier-grade NAT", "100.64.1.2" },
    { "carrier-grade NAT, top", "100.127.255.254" },
    { "network host part", "192.168.1.0" },
    { "network host part, 10/8", "10.0.0.0" },
    { "broadcast host part", "192.168.1.255" },
    { "broadcast host part, 172.16/12", "172.16.5.255" },
    { "unspecified", "0.0.0.0" },
    { "multicast", "224.0.0.251" },
};

bool names(const Args& call, const std::string& address)
{
    for (const std::string& argument : call)
        if (argument == address || argument.rfind(address + ":", 0) == 0)
            return true;
    return false;
}

bool isWirelessCommand(const Args& call)
{
    if (!call.empty() && (call[0] == "connect" || call[0] == "disconnect"))
        return true;
    return std::find(call.begin(), call.end(), "tcpip") != call.end();
}

// The rig for one operation: a cable phone "U1" whose Wi-Fi address is `phoneIP`, this
// computer's router `router`, and `remembered` as the last phone address.
ControllerRig& script(
    ControllerRig& rig, const std::string& phoneIP, const std::string& router, const std::string& remembered)
{
    rig.adb.on({ "devices", "-l" }, deviceList({ "U1 device usb:1-1 model:Pixel_7" }));
    rig.adb.on({ "-s", "U1", "shell", "ip", "route" },
        { .out = "192.168.1.0/24 dev wlan0 proto kernel scope link src " + phoneIP + "\n" });
    rig.adb.on({ "-s", "U1", "shell", "ip", "-f", "inet", "addr", "show", "wlan0" },
        { .out = "    inet " + phoneIP + "/24 brd 192.168.1.255 scope global wlan0\n" });
    rig.adb.otherwise({ .out = "connected to " + phoneIP + ":5555" });
    rig.network->routerIP = router;
    rig.defaults->writeString(AppState::kLastPhoneIP, remembered);
    return rig;
}

std::vector<Args> runOperation(ControllerRig& rig, void (AppState::*operation)())
{
    auto state = rig.make();
    (state.get()->*operation)();
    EXPECT_TRUE(test::waitUntilIdle(*state));
    return rig.adb.calls();
}

TEST(AppStateWirelessSafetyTest, TheHarnessSeesWirelessCommandsForAHomeAddress)
{
    ControllerRig wireless;
    const auto goCalls = runOperation(
        script(wireless, "192.168.1.40", "192.168.1.1", "192.168.1.40"), &AppState::goWireless);
    EXPECT_TRUE(std::any_of(goCalls.begin(), goCalls.end(), isWirelessCommand));
    EXPECT_TRUE(std::any_of(
        goCalls.begin(), goCalls.end(), [](const Args& call) { return names(call, "192.168.1.40"); }));

    ControllerRig hotspot;
    const auto hotspotCalls = runOperation(
        script(hotspot, "192.168.43.1", "192.168.43.1", "192.168.1.40"), &AppState::connectHotspot);
    EXPECT_TRUE(std::find(hotspotCalls.begin(), hotspotCalls.end(), Args { "connect", "192.168.43.1:5555" })
        != hotspotCalls.end());

    ControllerRig off;
    const auto offCalls = runOperation(
        script(off, "192.168.1.40", "192.168.1.1", "192.168.1.40"), &AppState::disconnectWireless);
    EXPECT_TRUE(std::find(offCalls.begin(), offCalls.end(), Args { "disconnect", "192.168.1.40:5555" })
        != offCalls.end());
}

TEST(AppStateWirelessSafetyTest, NoOperationOpensOrDialsARefusedAddress)
{
    for (const Refused& refused : kRefused) {
        SCOPED_TRACE(std::string(refused.range) + " " + refused.address);
        const std::string& a = refused.address;

        ControllerRig wireless;
        const auto goCalls = runOperation(script(wireless, a, a, a), &AppState::goWireless);
        ASSERT_EQ(wireless.presenter->errors.size(), 1u);
        EXPECT_EQ(wireless.presenter->errors[0].title, "That network doesn’t look like a home network.");
        EXPECT_NE(wireless.presenter->errors[0].advice.find("(" + a + ")"), std::string::npos);

        // A router outside the home ranges counts as no hotspot: nothing is switched on for it.
        ControllerRig hotspot;
        const auto hotspotCalls = runOperation(script(hotspot, a, a, a), &AppState::connectHotspot);
        ASSERT_EQ(hotspot.presenter->errors.size(), 1u);
        EXPECT_EQ(hotspot.presenter->errors[0].title, "This computer isn’t connected to a Wi-Fi hotspot.");
        EXPECT_FALSE(hotspot.defaults->contains("lastWasHotspot"));

        ControllerRig off;
        const auto offCalls = runOperation(script(off, a, a, a), &AppState::disconnectWireless);
        EXPECT_EQ(offCalls,
            (std::vector<Args> { { "devices", "-l" }, { "-s", "U1", "usb" }, { "devices", "-l" } }));

        ControllerRig direct;
        script(direct, a, a, a);
        auto state = direct.make();
        EXPECT_TRUE(QCoro::waitFor(state->connectOverWiFi(a, 3)).has_value());
        std::vector<Args> switchOffCalls;
        AppState::AdbRun run = [&switchOffCalls](Args arguments) -> QCoro::Task<ProcessResult> {
            switchOffCalls.push_back(std::move(arguments));
            co_return ProcessResult {};
        };
        EXPECT_FALSE(QCoro::waitFor(AppState::switchOffWireless({}, a, 5555, run)));
        EXPECT_TRUE(switchOffCalls.empty());

        std::vector<Args> all = goCalls;
        for (const std::vector<Args>* calls :
            std::initializer_list<const std::vector<Args>*> { &hotspotCalls, &offCalls, &switchOffCalls })
            all.insert(all.end(), calls->begin(), calls->end());
        const auto directCalls = direct.adb.calls();
        all.insert(all.end(), directCalls.begin(), directCalls.end());
        for (const Args& call : all) {
            EXPECT_FALSE(names(call, a)) << call[0];
            EXPECT_FALSE(isWirelessCommand(call)) << call[0];
        }
    }
}

} // namespace
} // namespace tessaly
