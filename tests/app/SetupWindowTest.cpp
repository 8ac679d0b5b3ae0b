#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include "app/SetupWindow.h"
#include "support/ControllerFakes.h"
#include "support/Screenshots.h"
#include "support/StandInTool.h"

namespace tessaly {
namespace {

using namespace test;
using Status = SetupGuide::PhoneStatus;

const std::vector<std::string> kDevices { "devices", "-l" };
const std::string kVersion
    = "scrcpy 3.1 <https://github.com/Genymobile/scrcpy>\n\nDependencies (compiled / linked):\n";

bool waitForChecks(const SetupGuide& guide)
{
    return waitFor([&] { return !guide.hasRunningChecks(); });
}

void spin(int ms)
{
    waitFor([] { return false; }, ms);
}

std::size_t devicesCalls(const StandInTool& adb)
{
    const auto calls = adb.calls();
    return std::count(calls.begin(), calls.end(), kDevices);
}

// The guide's window over stand-in tools, shown and done with its first checks: adb lists
// `listed`, scrcpy (when there) plays `release`.
struct OpenGuide {
    ControllerRig rig;
    std::unique_ptr<AppState> state;
    std::unique_ptr<SetupWindowController> setup;

    explicit OpenGuide(
        const std::vector<std::string>& listed, bool withScrcpy = true, std::string release = "3.3.4")
    {
        rig.withScrcpy = withScrcpy;
        rig.scrcpy.playScrcpy(release);
        rig.adb.on(kDevices, deviceList(listed));
        state = rig.make();
        setup = std::make_unique<SetupWindowController>(*state);
        setup->show();
        EXPECT_TRUE(waitForChecks(guide()));
    }
    ~OpenGuide() { setup->window()->close(); }

    SetupGuide& guide() { return *setup->guide(); }
    template <typename T> T* part(const char* name)
    {
        return setup->window()->findChild<T*>(QLatin1String(name));
    }
    QString mark(const char* icon)
    {
        return part<QLabel>(icon)->property(SetupView::kMarkProperty).toString();
    }
    bool installShown() { return part<QWidget>("installCommand")->isVisibleTo(setup->window()); }
};

TEST(SetupGuideTest, PhoneStatusFromDeviceLists)
{
    const auto usbAllow = usbPhone("R58N1", {}, "unauthorized");
    const auto wifi = wifiPhone("192.168.1.5:5555");
    const std::pair<std::vector<Device>, Status> cases[] = {
        { {}, Status::notFound() },
        { { usbPhone("R58N1", {}, "offline") }, Status::notFound() },
        { { usbPhone("R58N1", {}, "Device") }, Status::notFound() }, // the state must match exactly
        { { usbAllow, wifiPhone("192.168.1.5:5555", {}, "offline") }, Status::waitingForAllow() },
        { { wifi }, Status::ready("Wi-Fi") },
        { { wifi, usbPhone("R58N1", "Pixel_7") }, Status::ready("USB cable") },
        { { usbAllow, wifi }, Status::ready("Wi-Fi") },
    };
    for (const auto& [devices, expected] : cases)
        EXPECT_EQ(Status::from(devices), expected) << SetupGuide::phoneLine(expected);
}

TEST(SetupGuideTest, MissingAdbIsReportedWithoutRunningAnything)
{
    ControllerRig rig;
    rig.withAdb = false;
    auto state = rig.make();
    SetupGuide guide(*state);
    EXPECT_EQ(guide.engineLine(), "Checking…");
    EXPECT_EQ(guide.phone(), Status::looking());
    guide.windowOpened();
    EXPECT_EQ(guide.engineLine(), "Not found on this computer");
    EXPECT_EQ(guide.phone(), Status::notFound());
    EXPECT_TRUE(rig.scrcpy.calls().empty() && rig.adb.calls().empty());
    guide.windowClosed();
}

TEST(SetupGuideTest, PollsOnlyWhileTheWindowIsOpen)
{
    OpenGuide g({});
    SetupGuide& guide = g.guide();
    EXPECT_EQ(devicesCalls(g.rig.adb), 1u); // checked at once, not two seconds later
    ASSERT_NE(guide.pollTimer(), nullptr);
    EXPECT_EQ(guide.pollTimer()->interval(), 2000);
    g.setup->window()->close();
    EXPECT_EQ(guide.pollTimer(), nullptr);
    g.setup->show(); // the same window and guide again
    EXPECT_EQ(g.setup->guide(), &guide);
    ASSERT_TRUE(waitForChecks(guide));
    EXPECT_EQ(devicesCalls(g.rig.adb), 2u);
    EXPECT_TRUE(guide.pollTimer() && guide.pollTimer()->isActive());

    g.setup->window()->close();
    SetupGuide fast(*g.state, 30);
    fast.windowOpened();
    spin(300);
    EXPECT_GE(devicesCalls(g.rig.adb), 5u);
    fast.windowClosed();
    ASSERT_TRUE(waitForChecks(fast));
    const std::size_t afterClosing = devicesCalls(g.rig.adb);
    spin(150);
    EXPECT_EQ(devicesCalls(g.rig.adb), afterClosing);
}

TEST(SetupWindowTest, StepsLineAndButtonFollowThePhoneAndTheEngine)
{
    using Calls = std::vector<std::vector<std::string>>;
    const struct {
        std::vector<std::string> listed;
        bool engine;
        const char *release, *limits, *line, *debugging, *cable;
        bool canMirror;
        QString screenshot;
    } cases[] = {
        { {}, true, "3.3.4", "",
            "Waiting for your phone… (some cables only charge: try another one if nothing happens)", "step-2",
            "step-3", false, {} },
        { { "R58N1 unauthorized usb:1-1 transport_id:1" }, true, "3.3.4", "",
            "Almost there: tap “Allow” on your phone.", "done", "step-3", false,
            QStringLiteral("setup-waiting-for-allow") },
        { { "R58N1 device usb:1-1 product:p model:Pixel_7 transport_id:1" }, true, "2.4",
            "; mouse hover needs 2.6", "Your phone is connected (USB cable).", "done", "done", true,
            QStringLiteral("setup-ready") },
        { { "192.168.1.5:5555 device product:p model:Pixel_7 transport_id:2" }, true, "1.25",
            "; audio needs 2.0; real keyboard mode over Wi-Fi needs 2.4; mouse hover needs 2.6",
            "Your phone is connected (Wi-Fi).", "done", "done", true, {} },
        { { "R58N1 device usb:1-1 model:Pixel_7" }, false, "3.3.4", "",
            "Your phone is connected (USB cable).", "done", "done", false,
            QStringLiteral("setup-engine-missing") },
    };
    for (const auto& c : cases) {
        OpenGuide g(c.listed, c.engine, c.release);
        EXPECT_EQ(g.guide().engineLine(),
            c.engine ? "scrcpy " + std::string(c.release) + " from " + g.rig.scrcpy.folder()
                    + ": mirroring works" + c.limits
                     : "Not found on this computer");
        EXPECT_EQ(g.rig.scrcpy.calls(), c.engine ? Calls { { "--help" } } : Calls {});
        EXPECT_EQ(g.mark("engineIcon"), c.engine ? "done" : "warning");
        EXPECT_EQ(g.installShown(), !c.engine);
        EXPECT_EQ(g.part<QLabel>("phoneLine")->text(), QString::fromUtf8(c.line));
        EXPECT_EQ(g.mark("debuggingIcon"), c.debugging) << c.line;
        EXPECT_EQ(g.mark("cableIcon"), c.cable) << c.line;
        EXPECT_EQ(g.part<QPushButton>("mirrorButton")->isEnabled(), c.canMirror) << c.line;
        if (!c.screenshot.isEmpty())
            saveScreenshot(g.setup->window(), c.screenshot);
    }
}

TEST(SetupWindowTest, MirrorPhoneClosesTheWindowThenMirrors)
{
    OpenGuide g({ "R58N1 device usb:1-1 model:Pixel_7" });
    g.part<QPushButton>("mirrorButton")->click();
    EXPECT_FALSE(g.setup->window()->isVisible());
    EXPECT_EQ(g.guide().pollTimer(), nullptr);
    EXPECT_EQ(g.state->busyMessage(), "Looking for your phone…"); // the controller's mirroring began
    test::waitUntilIdle(*g.state);
    g.state->stopMirroring();
    test::waitUntilIdle(*g.state);
}

TEST(SetupGuideTest, AGuideDestroyedDuringACheckIsLeftAlone)
{
    ControllerRig rig;
    rig.adb.on(kDevices, { .out = "List of devices attached\n", .delay = 0.2 });
    rig.scrcpy.on({ "--help" }, { .out = kVersion, .delay = 0.2 });
    auto state = rig.make();
    auto guide = std::make_unique<SetupGuide>(*state);
    guide->windowOpened();
    EXPECT_TRUE(guide->hasRunningChecks());
    guide.reset();
    spin(500);
    EXPECT_EQ(devicesCalls(rig.adb), 1u);
}

} // namespace
} // namespace tessaly
