#include <algorithm>

#include <gtest/gtest.h>

#include "support/ControllerFakes.h"

// Every wireless operation is driven with the phone's address, this computer's router and the
// remembered address all taken from one refused range; the stand-in adb must never see a
// wireless command, nor any argument naming that address.

namespace tessaly {
namespace {

using test::ControllerRig;
using Args = std::vector<std::string>;

bool names(const Args& call, const std::string& address)
{
    return std::any_of(call.begin(), call.end(),
        [&](const std::string& a) { return a == address || a.rfind(address + ":", 0) == 0; });
}

bool isWirelessCommand(const Args& call)
{
    return (!call.empty() && (call[0] == "connect" || call[0] == "disconnect"))
        || std::find(call.begin(), call.end(), "tcpip") != call.end();
}

// A cable phone "U1" whose Wi-Fi address is `ip`; `ip` is also the router and the remembered address.
void script(ControllerRig& rig, const std::string& ip)
{
    rig.adb.on({ "devices", "-l" }, test::deviceList({ "U1 device usb:1-1 model:Pixel_7" }));
    rig.adb.on({ "-s", "U1", "shell", "ip", "route" },
        { .out = "192.168.1.0/24 dev wlan0 proto kernel scope link src " + ip + "\n" });
    rig.adb.on({ "-s", "U1", "shell", "ip", "-f", "inet", "addr", "show", "wlan0" },
        { .out = "    inet " + ip + "/24 brd 192.168.1.255 scope global wlan0\n" });
    rig.adb.otherwise({ .out = "connected to " + ip + ":5555" });
    rig.network->routerIP = ip;
    rig.defaults->writeString(AppState::kLastPhoneIP, ip);
}

struct Outcome {
    std::vector<Args> calls;
    std::vector<FriendlyError> errors;
};

Outcome run(const std::string& ip, void (AppState::*operation)())
{
    ControllerRig rig;
    script(rig, ip);
    auto state = rig.make();
    ((*state).*operation)();
    EXPECT_TRUE(test::waitUntilIdle(*state));
    return { rig.adb.calls(), rig.presenter->errors };
}

TEST(AppStateWirelessSafetyTest, AHomeAddressDoesReachTheWirelessCommands)
{
    // Guards the sweep below against passing for a broken script.
    for (const auto operation :
        { &AppState::goWireless, &AppState::connectHotspot, &AppState::disconnectWireless }) {
        const Outcome home = run("192.168.1.40", operation);
        EXPECT_TRUE(std::any_of(home.calls.begin(), home.calls.end(),
            [](const Args& call) { return isWirelessCommand(call) && names(call, "192.168.1.40"); }));
    }
}

TEST(AppStateWirelessSafetyTest, NoOperationOpensOrDialsARefusedAddress)
{
    const std::pair<const char*, std::string> refused[] {
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
    for (const auto& [range, a] : refused) {
        SCOPED_TRACE(std::string(range) + " " + a);
        const Outcome wireless = run(a, &AppState::goWireless);
        ASSERT_EQ(wireless.errors.size(), 1u);
        EXPECT_EQ(wireless.errors[0].title, "That network doesn’t look like a home network.");
        EXPECT_NE(wireless.errors[0].advice.find("(" + a + ")"), std::string::npos);

        // A router outside the home ranges counts as no hotspot.
        const Outcome hotspot = run(a, &AppState::connectHotspot);
        ASSERT_EQ(hotspot.errors.size(), 1u);
        EXPECT_EQ(hotspot.errors[0].title, "This computer isn’t connected to a Wi-Fi hotspot.");

        const Outcome off = run(a, &AppState::disconnectWireless);
        EXPECT_EQ(off.calls,
            (std::vector<Args> { { "devices", "-l" }, { "-s", "U1", "usb" }, { "devices", "-l" } }));

        ControllerRig direct;
        script(direct, a);
        EXPECT_TRUE(QCoro::waitFor(direct.make()->connectOverWiFi(a, 3)).has_value());
        std::vector<Args> all = direct.adb.calls();
        AppState::AdbRun record = [&all](Args arguments) -> QCoro::Task<ProcessResult> {
            all.push_back(std::move(arguments));
            co_return ProcessResult {};
        };
        EXPECT_FALSE(QCoro::waitFor(AppState::switchOffWireless({}, a, 5555, record)));

        for (const Outcome* r : { &wireless, &hotspot, &off })
            all.insert(all.end(), r->calls.begin(), r->calls.end());
        for (const Args& call : all) {
            EXPECT_FALSE(names(call, a)) << call[0];
            EXPECT_FALSE(isWirelessCommand(call)) << call[0];
        }
    }
}

} // namespace
} // namespace tessaly
