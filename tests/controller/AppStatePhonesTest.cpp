#include <gtest/gtest.h>

#include "support/ControllerFakes.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::deviceList;
using test::StandInTool;
using test::usbPhone;
using test::wifiPhone;
using Args = std::vector<std::string>;

const Device kPixel = usbPhone("U1", "Pixel_7");
const Device kGalaxy = wifiPhone("192.168.1.41:5555", "Galaxy_S21");
const Device kPixelOnWiFi = wifiPhone("192.168.1.40:5555", "Pixel_7");

std::vector<std::string> serials(const std::vector<Device>& devices)
{
    std::vector<std::string> found;
    for (const Device& d : devices)
        found.push_back(d.serial);
    return found;
}

TEST(PhoneChoiceTest, ChoiceRules)
{
    const PhoneChoice::ReportedSerials reported { { kGalaxy.serial, "R5" }, { kPixelOnWiFi.serial, "U1" } };
    struct Case {
        const char* scene;
        std::vector<Device> devices;
        std::optional<std::string> chosen;
        std::vector<std::string> phoneNames;
        std::vector<std::string> scope;
        bool gone;
        std::optional<std::string> picked;
    };
    const Case cases[] {
        { "a new phone, nothing chosen: the usual rule", { kGalaxy, kPixel }, {}, { "Galaxy S21", "Pixel 7" },
            { kGalaxy.serial, "U1" }, false, "U1" },
        { "the chosen phone is there", { kGalaxy, kPixel }, "R5", { "Galaxy S21", "Pixel 7" },
            { kGalaxy.serial }, false, kGalaxy.serial },
        { "the chosen phone is gone", { kPixel }, "R5", { "Pixel 7" }, { "U1" }, true, "U1" },
        { "same phone over USB and Wi-Fi", { kPixelOnWiFi, kPixel }, {}, { "Pixel 7" },
            { kPixelOnWiFi.serial, "U1" }, false, "U1" },
        { "same phone twice, chosen: both links, cable first", { kGalaxy, kPixelOnWiFi, kPixel }, "U1",
            { "Galaxy S21", "Pixel 7" }, { kPixelOnWiFi.serial, "U1" }, false, "U1" },
        { "chosen phone gone and no phone at all", {}, "R5", {}, {}, false, std::nullopt },
        { "only a phone waiting for Allow", { usbPhone("U2", {}, "unauthorized") }, "R5", {}, { "U2" }, false,
            std::nullopt },
        { "a link that has not told its serial is a phone of its own",
            { kPixel, wifiPhone("192.168.1.42:5555", "Pixel_7") }, "U1", { "Pixel 7", "Pixel 7" }, { "U1" },
            false, "U1" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scene);
        std::vector<std::string> names;
        for (const Phone& phone : PhoneChoice::phones(c.devices, reported))
            names.push_back(phone.name());
        EXPECT_EQ(names, c.phoneNames);
        const PhoneChoice::Scope scope = PhoneChoice::scope(c.devices, reported, c.chosen);
        EXPECT_EQ(serials(scope.devices), c.scope);
        EXPECT_EQ(scope.chosenGone, c.gone);
        const auto picked = AppState::pickDevice(scope.devices);
        EXPECT_EQ(picked ? std::optional(picked->serial) : std::nullopt, c.picked);
    }
}

TEST(PhoneChoiceTest, ReportedSerialAndLinkText)
{
    const std::pair<const char*, std::optional<std::string>> answers[] {
        { "R58N12345\n", "R58N12345" },
        { "R58N12345\r\n", "R58N12345" },
        { "* daemon not running; starting now at tcp:5037\n* daemon started successfully\nR58N12345",
            "R58N12345" },
        { "", std::nullopt },
        { "unknown\n", std::nullopt },
        { "error: device offline", std::nullopt },
        { "-rf\n", std::nullopt },
    };
    for (const auto& [output, expected] : answers)
        EXPECT_EQ(PhoneChoice::parseReportedSerial(output), expected) << output;

    const Phone both { "U1", "Pixel_7", { kPixelOnWiFi, kPixel } };
    EXPECT_EQ(both.linkText("Hotspot"), "USB + Hotspot");
    const Phone unnamed { "R5", std::nullopt, { kGalaxy } };
    EXPECT_EQ(unnamed.name() + " " + unnamed.linkText(), "R5 Wi-Fi");
}

struct PhonesRig : ControllerRig {
    std::unique_ptr<AppState> state;

    void list(const std::vector<std::string>& lines) { adb.on({ "devices", "-l" }, deviceList(lines)); }
    void reports(const std::string& address, const std::string& serial)
    {
        adb.on({ "-s", address, "shell", "getprop", "ro.serialno" }, { .out = serial + "\r\n" });
    }
    AppState& restart()
    {
        state = make();
        refresh();
        return *state;
    }
    void refresh()
    {
        state->menuOpened();
        state->menuClosed();
        ASSERT_TRUE(test::waitUntilIdle(*state));
    }
    std::vector<Args> callsStartingWith(StandInTool& tool, const Args& prefix)
    {
        std::vector<Args> found;
        for (const Args& call : tool.calls())
            if (call.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), call.begin()))
                found.push_back(call);
        return found;
    }
};

// The choice is kept by the phone's own serial: a new address after a replug, a restart of
// the application, and the phone's absence all keep it; the phone is asked only once per link.
TEST(AppStatePhonesTest, ChoiceSurvivesReplugAndRestartAndFallsBackWhenGone)
{
    PhonesRig rig;
    rig.list({ "U1 device usb:1-1 model:Pixel_7", "192.168.1.41:5555 device model:Galaxy_S21" });
    rig.reports("192.168.1.41:5555", "R5");
    AppState& first = rig.restart();
    ASSERT_EQ(first.phones().size(), 2u);
    EXPECT_EQ(first.actedOnPhone(), "U1");
    first.choosePhone(first.phones()[1]);
    EXPECT_EQ(first.actedOnPhone(), "R5");
    EXPECT_EQ(first.statusText(), "Connected via Wi-Fi (Galaxy_S21)");
    rig.refresh();
    EXPECT_EQ(rig.callsStartingWith(rig.adb, { "-s", "192.168.1.41:5555", "shell", "getprop" }).size(), 1u);

    // Replugged onto a new address, then Tessaly restarted.
    rig.list({ "U1 device usb:1-1 model:Pixel_7", "192.168.1.52:5555 device model:Galaxy_S21" });
    rig.reports("192.168.1.52:5555", "R5");
    AppState& second = rig.restart();
    EXPECT_EQ(second.actedOnPhone(), "R5");
    second.mirror();
    ASSERT_TRUE(test::waitUntilIdle(second));
    EXPECT_EQ(second.mirroredSerial(), "192.168.1.52:5555");
    second.stopMirroring();
    ASSERT_TRUE(test::waitFor([&] { return !second.isMirroring(); }));
    ASSERT_TRUE(test::waitUntilIdle(second));

    // Gone: the usual rule picks the cable phone, and the status line says why.
    rig.list({ "U1 device usb:1-1 model:Pixel_7" });
    rig.refresh();
    EXPECT_EQ(second.statusText(),
        "Connected via USB (Pixel_7)\nGalaxy S21 isn’t connected, so Tessaly uses this one.");
    EXPECT_EQ(second.actedOnPhone(), "U1");
}

// Go Wireless, Disconnect Wireless and the files window's phone follow the choice.
TEST(AppStatePhonesTest, WirelessOperationsActOnTheChosenPhone)
{
    PhonesRig rig;
    rig.list({ "U1 device usb:1-1 model:Pixel_7", "U2 device usb:1-2 model:Pixel_8",
        "192.168.1.41:5555 device model:Galaxy_S21", "192.168.1.40:5555 device model:Pixel_7" });
    rig.reports("192.168.1.41:5555", "R5");
    rig.reports("192.168.1.40:5555", "U1");
    AppState& state = rig.restart();
    ASSERT_EQ(state.phones().size(), 3u);
    EXPECT_EQ(state.phones()[0].linkText(), "USB + Wi-Fi");

    state.choosePhone(state.phones()[1]); // Pixel 8, on the cable only
    state.goWireless();
    ASSERT_TRUE(test::waitUntilIdle(state));
    EXPECT_FALSE(rig.callsStartingWith(rig.adb, { "-s", "U2", "shell", "ip" }).empty());
    EXPECT_TRUE(rig.callsStartingWith(rig.adb, { "-s", "U1", "shell", "ip" }).empty());

    state.choosePhone(state.phones()[0]); // Pixel 7, on the cable and on Wi-Fi
    rig.adb.clearCalls();
    state.disconnectWireless();
    ASSERT_TRUE(test::waitUntilIdle(state));
    const std::vector<Args> switched = rig.callsStartingWith(rig.adb, { "-s" });
    EXPECT_EQ(switched, (std::vector<Args> { { "-s", "192.168.1.40:5555", "usb" } }));
    EXPECT_EQ(rig.callsStartingWith(rig.adb, { "disconnect" }),
        (std::vector<Args> { { "disconnect", "192.168.1.40:5555" } }));
}

} // namespace
} // namespace tessaly
