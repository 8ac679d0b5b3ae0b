#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/SetupWindow.h"
#include "support/ControllerFakes.h"
#include "support/Screenshots.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::deviceList;
using test::StandInTool;
using Status = SetupGuide::PhoneStatus;
using C = Device::Connection;

const std::vector<std::string> kDevices { "devices", "-l" };

bool waitForChecks(SetupGuide& guide, int timeoutMs = 5000)
{
    if (!guide.hasRunningChecks())
        return true;
    QEventLoop loop;
    QObject::connect(&guide, &SetupGuide::idle, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return !guide.hasRunningChecks();
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::size_t devicesCalls(const test::StandInTool& adb)
{
    std::size_t count = 0;
    for (const auto& call : adb.calls())
        count += call == kDevices ? 1 : 0;
    return count;
}

template <typename T> T* part(SetupWindowController& setup, const char* name)
{
    return setup.window()->findChild<T*>(QString::fromLatin1(name));
}

QString mark(SetupWindowController& setup, const char* icon)
{
    return part<QLabel>(setup, icon)->property(SetupView::kMarkProperty).toString();
}

TEST(SetupGuideTest, PhoneStatusFromDeviceLists)
{
    const struct {
        std::vector<Device> devices;
        Status expected;
    } cases[] = {
        { {}, Status::notFound() }, { { { "R58N1", "offline", {}, C::usb } }, Status::notFound() },
        { { { "R58N1", "unauthorized", {}, C::usb }, { "192.168.1.5:5555", "offline", {}, C::wifi } },
            Status::waitingForAllow() },
        { { { "192.168.1.5:5555", "device", {}, C::wifi } }, Status::ready("Wi-Fi") },
        { { { "192.168.1.5:5555", "device", {}, C::wifi }, { "R58N1", "device", "Pixel_7", C::usb } },
            Status::ready("USB cable") },
        { { { "R58N1", "unauthorized", {}, C::usb }, { "192.168.1.5:5555", "device", {}, C::wifi } },
            Status::ready("Wi-Fi") },
        { { { "R58N1", "Device", {}, C::usb } }, Status::notFound() }, // the state must match exactly
    };
    for (const auto& c : cases)
        EXPECT_EQ(Status::from(c.devices), c.expected) << SetupGuide::phoneLine(c.expected);
    EXPECT_NE(Status::ready("USB cable"), Status::ready("Wi-Fi"));
}

TEST(SetupGuideTest, ScrcpyVersionReadsOnlyTheFirstNonEmptyLine)
{
    const std::string longWord(200, '9');
    const struct {
        std::string output;
        std::optional<std::string> version;
    } cases[] = {
        { "scrcpy 3.1 <https://github.com/Genymobile/scrcpy>\n\nDependencies (compiled / linked):\n", "3.1" },
        { "\n  \r\n  scrcpy   2.4-rc1  \r\n", "2.4-rc1" },
        { "Scrcpy 3.1", std::nullopt },
        { "scrcpy", std::nullopt },
        { "INFO: loading\nscrcpy 3.1", std::nullopt },
        { "", std::nullopt },
        { "scrcpy " + longWord, std::nullopt },
        { std::string("scrcpy 3.\x1b[2J1"), std::nullopt },
    };
    for (const auto& c : cases)
        EXPECT_EQ(SetupGuide::scrcpyVersion(c.output), c.version) << c.output;
}

TEST(SetupGuideTest, MissingToolsAreReportedWithoutRunningAnything)
{
    ControllerRig rig;
    rig.withAdb = false;
    auto state = rig.make();
    SetupGuide guide(*state);
    EXPECT_EQ(guide.engineLine(), "Checking…");
    EXPECT_EQ(guide.phone(), Status::looking());
    guide.windowOpened();
    EXPECT_FALSE(guide.engineFound());
    EXPECT_EQ(guide.engineLine(), "Not found on this computer");
    EXPECT_EQ(guide.phone(), Status::notFound());
    guide.check();
    EXPECT_EQ(guide.phone(), Status::notFound());
    EXPECT_TRUE(rig.scrcpy.calls().empty());

    ControllerRig noScrcpy;
    noScrcpy.withScrcpy = false;
    auto adbOnly = noScrcpy.make();
    SetupGuide other(*adbOnly);
    other.describeEngine();
    EXPECT_FALSE(other.engineFound());
    EXPECT_EQ(other.engineLine(), "Not found on this computer");
}

TEST(SetupGuideTest, EngineLineNamesTheVersionScrcpyReports)
{
    ControllerRig rig;
    StandInTool::Answer version;
    version.out = "scrcpy 3.1 <https://github.com/Genymobile/scrcpy>\n\nDependencies (compiled / linked):\n";
    rig.scrcpy.on({ "--version" }, version);
    auto state = rig.make();
    SetupGuide guide(*state);
    EXPECT_TRUE(guide.engineFound());
    guide.describeEngine();
    EXPECT_EQ(guide.engineLine(), "Found, from your system");
    ASSERT_TRUE(waitForChecks(guide));
    EXPECT_EQ(guide.engineLine(), "scrcpy 3.1, from your system");
    EXPECT_EQ(rig.scrcpy.calls(), (std::vector<std::vector<std::string>> { { "--version" } }));

    // Another first line leaves the line as it was.
    version.out = "INFO: scrcpy 3.1\n";
    rig.scrcpy.on({ "--version" }, version);
    SetupGuide again(*state);
    again.describeEngine();
    ASSERT_TRUE(waitForChecks(again));
    EXPECT_EQ(again.engineLine(), "Found, from your system");
}

TEST(SetupGuideTest, PollsOnlyWhileTheWindowIsOpen)
{
    ControllerRig rig;
    rig.adb.on(kDevices, deviceList({}));
    auto state = rig.make();
    SetupWindowController setup(*state);
    setup.show();
    SetupGuide& guide = *setup.guide();
    ASSERT_TRUE(waitForChecks(guide));
    EXPECT_EQ(devicesCalls(rig.adb), 1u); // checked at once, not two seconds later
    ASSERT_NE(guide.pollTimer(), nullptr);
    EXPECT_EQ(guide.pollTimer()->interval(), 2000);
    EXPECT_TRUE(guide.pollTimer()->isActive());

    setup.window()->close();
    EXPECT_EQ(guide.pollTimer(), nullptr);
    EXPECT_FALSE(setup.window()->isVisible());

    setup.show(); // the same window and guide again
    EXPECT_EQ(setup.guide(), &guide);
    ASSERT_TRUE(waitForChecks(guide));
    EXPECT_EQ(devicesCalls(rig.adb), 2u);
    EXPECT_TRUE(guide.pollTimer() && guide.pollTimer()->isActive());
    setup.window()->close();
}

TEST(SetupGuideTest, ThePollRepeatsAndEndsWithTheWindow)
{
    ControllerRig rig;
    rig.adb.on(kDevices, deviceList({}));
    auto state = rig.make();
    SetupWindowController setup(*state, 30);
    setup.show();
    spin(400);
    ASSERT_TRUE(waitForChecks(*setup.guide()));
    EXPECT_GE(devicesCalls(rig.adb), 3u);

    setup.window()->close();
    ASSERT_TRUE(waitForChecks(*setup.guide()));
    const std::size_t afterClosing = devicesCalls(rig.adb);
    spin(200);
    EXPECT_EQ(devicesCalls(rig.adb), afterClosing);
}

TEST(SetupWindowTest, StepsLineAndButtonFollowThePhone)
{
    const struct {
        std::vector<std::string> listed;
        const char* line;
        const char* debugging;
        const char* cable;
        bool canMirror;
    } cases[] = {
        { {}, "Waiting for your phone… (some cables only charge: try another one if nothing happens)",
            "step-2", "step-3", false },
        { { "R58N1 unauthorized usb:1-1 transport_id:1" }, "Almost there: tap “Allow” on your phone.", "done",
            "step-3", false },
        { { "R58N1 device usb:1-1 product:p model:Pixel_7 transport_id:1" },
            "Your phone is connected (USB cable).", "done", "done", true },
        { { "192.168.1.5:5555 device product:p model:Pixel_7 transport_id:2" },
            "Your phone is connected (Wi-Fi).", "done", "done", true },
    };
    ControllerRig rig;
    auto state = rig.make();
    SetupWindowController setup(*state);
    for (const auto& c : cases) {
        rig.adb.on(kDevices, deviceList(c.listed));
        setup.show();
        ASSERT_TRUE(waitForChecks(*setup.guide()));
        EXPECT_EQ(part<QLabel>(setup, "phoneLine")->text(), QString::fromUtf8(c.line));
        EXPECT_EQ(mark(setup, "engineIcon"), "done");
        EXPECT_EQ(mark(setup, "debuggingIcon"), c.debugging) << c.line;
        EXPECT_EQ(mark(setup, "cableIcon"), c.cable) << c.line;
        EXPECT_EQ(part<QPushButton>(setup, "mirrorButton")->isEnabled(), c.canMirror) << c.line;
        EXPECT_FALSE(part<QWidget>(setup, "installCommand")->isVisibleTo(setup.window()));
    }
    setup.window()->close();
}

TEST(SetupWindowTest, MirrorNeedsTheEngineEvenWithAReadyPhone)
{
    ControllerRig rig;
    rig.withScrcpy = false;
    rig.adb.on(kDevices, deviceList({ "R58N1 device usb:1-1 model:Pixel_7" }));
    auto state = rig.make();
    SetupWindowController setup(*state);
    setup.show();
    ASSERT_TRUE(waitForChecks(*setup.guide()));
    EXPECT_EQ(setup.guide()->phone(), Status::ready("USB cable"));
    EXPECT_EQ(mark(setup, "engineIcon"), "warning");
    EXPECT_EQ(mark(setup, "cableIcon"), "done");
    EXPECT_FALSE(part<QPushButton>(setup, "mirrorButton")->isEnabled());
    EXPECT_TRUE(part<QWidget>(setup, "installCommand")->isVisibleTo(setup.window()));
    EXPECT_EQ(part<QLabel>(setup, "installCommand")->text(), "sudo apt install adb scrcpy");
    setup.window()->close();
}

TEST(SetupWindowTest, MirrorPhoneClosesTheWindowThenMirrors)
{
    ControllerRig rig;
    rig.adb.on(kDevices, deviceList({ "R58N1 device usb:1-1 model:Pixel_7" }));
    auto state = rig.make();
    SetupWindowController setup(*state);
    setup.show();
    ASSERT_TRUE(waitForChecks(*setup.guide()));
    part<QPushButton>(setup, "mirrorButton")->click();
    EXPECT_FALSE(setup.window()->isVisible());
    EXPECT_EQ(setup.guide()->pollTimer(), nullptr);
    EXPECT_EQ(state->busyMessage(), "Looking for your phone…"); // the controller's mirroring began
    test::waitUntilIdle(*state);
    state->stopMirroring();
    test::waitUntilIdle(*state);
}

TEST(SetupGuideTest, AGuideDestroyedDuringACheckIsLeftAlone)
{
    ControllerRig rig;
    StandInTool::Answer slow = deviceList({ "R58N1 device usb:1-1" });
    slow.delay = 0.2;
    rig.adb.on(kDevices, slow);
    rig.scrcpy.on({ "--version" }, slow);
    auto state = rig.make();
    auto guide = std::make_unique<SetupGuide>(*state);
    guide->windowOpened();
    EXPECT_TRUE(guide->hasRunningChecks());
    guide.reset();
    spin(500);
    EXPECT_EQ(devicesCalls(rig.adb), 1u);
}

void screenshot(bool withScrcpy, const std::vector<std::string>& listed, const QString& name)
{
    ControllerRig rig;
    rig.withScrcpy = withScrcpy;
    StandInTool::Answer version;
    version.out = "scrcpy 3.1 <https://github.com/Genymobile/scrcpy>\n";
    rig.scrcpy.on({ "--version" }, version);
    rig.adb.on(kDevices, deviceList(listed));
    auto state = rig.make();
    SetupWindowController setup(*state);
    setup.show();
    ASSERT_TRUE(waitForChecks(*setup.guide()));
    EXPECT_FALSE(test::saveScreenshot(setup.window(), name).isEmpty());
    setup.window()->close();
}

TEST(SetupWindowTest, Screenshots)
{
    screenshot(false, {}, QStringLiteral("setup-engine-missing"));
    screenshot(
        true, { "R58N1 unauthorized usb:1-1 transport_id:1" }, QStringLiteral("setup-waiting-for-allow"));
    screenshot(true, { "R58N1 device usb:1-1 model:Pixel_7 transport_id:1" }, QStringLiteral("setup-ready"));
}

} // namespace
} // namespace tessaly
