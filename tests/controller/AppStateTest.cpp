#include <chrono>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "platform/QSettingsDefaults.h"
#include "support/ControllerFakes.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::deviceList;
using Args = std::vector<std::string>;

Device usbPhone(
    std::string serial, std::optional<std::string> model = std::nullopt, std::string state = "device")
{
    return Device { std::move(serial), std::move(state), std::move(model), Device::Connection::usb };
}

Device wifiPhone(
    std::string serial, std::optional<std::string> model = std::nullopt, std::string state = "device")
{
    return Device { std::move(serial), std::move(state), std::move(model), Device::Connection::wifi };
}

using test::PlacedAppState;

// Settings ---------------------------------------------------------------------------

TEST(AppStateTest, FirstLaunchWritesVersionAndDefaults)
{
    ControllerRig rig;
    auto state = rig.make();
    EXPECT_TRUE(state->isFirstLaunch());
    EXPECT_EQ(rig.defaults->readInt("settingsVersion"), 2);
    EXPECT_EQ(rig.defaults->readString("preset"), "auto");
    EXPECT_EQ(state->preset(), QualityPreset::automatic);
    EXPECT_FALSE(state->pocketMode());
    EXPECT_TRUE(state->stayAwake());
    EXPECT_FALSE(state->realKeyboard());
    EXPECT_FALSE(state->audio());
    EXPECT_FALSE(state->showFPS());
    EXPECT_TRUE(state->autoDisableWirelessOnQuit());
    EXPECT_FALSE(state->quickShareOn());

    auto again = rig.make();
    EXPECT_FALSE(again->isFirstLaunch());
}

TEST(AppStateTest, StoredValuesAreReadWithTheirFallbacks)
{
    struct Case {
        const char* name;
        std::map<std::string, Defaults::Object> stored;
        QualityPreset preset;
        bool pocketMode, stayAwake, audio, autoDisable;
    };
    using O = Defaults::Object;
    const std::vector<Case> cases {
        { "version 1 preset is reset once",
            { { "settingsVersion", O(std::int64_t(1)) }, { "preset", O(std::string("lowLatency")) } },
            QualityPreset::automatic, false, true, false, true },
        { "version 2 preset persists",
            { { "settingsVersion", O(std::int64_t(2)) }, { "preset", O(std::string("smooth")) } },
            QualityPreset::smooth, false, true, false, true },
        { "unknown preset reads auto",
            { { "settingsVersion", O(std::int64_t(2)) }, { "preset", O(std::string("ultra")) } },
            QualityPreset::automatic, false, true, false, true },
        { "old turnScreenOff key",
            { { "settingsVersion", O(std::int64_t(2)) }, { "turnScreenOff", O(true) } },
            QualityPreset::automatic, true, true, false, true },
        { "pocketMode wins over turnScreenOff",
            { { "settingsVersion", O(std::int64_t(2)) }, { "turnScreenOff", O(true) },
                { "pocketMode", O(false) } },
            QualityPreset::automatic, false, true, false, true },
        { "wrongly typed flags fall back",
            { { "settingsVersion", O(std::int64_t(2)) }, { "stayAwake", O(std::string("maybe")) },
                { "autoDisableWirelessOnQuit", O(Defaults::Other {}) },
                { "pocketMode", O(std::int64_t(7)) } },
            QualityPreset::automatic, false, true, false, true },
        { "stored false flags",
            { { "settingsVersion", O(std::int64_t(2)) }, { "stayAwake", O(false) },
                { "autoDisableWirelessOnQuit", O(false) }, { "audio", O(true) } },
            QualityPreset::automatic, false, false, true, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ControllerRig rig;
        rig.defaults = std::make_shared<InMemoryDefaults>(c.stored);
        auto state = rig.make();
        EXPECT_FALSE(state->isFirstLaunch());
        EXPECT_EQ(state->preset(), c.preset);
        EXPECT_EQ(state->pocketMode(), c.pocketMode);
        EXPECT_EQ(state->stayAwake(), c.stayAwake);
        EXPECT_EQ(state->audio(), c.audio);
        EXPECT_EQ(state->autoDisableWirelessOnQuit(), c.autoDisable);
    }
}

TEST(AppStateTest, WiFiPresetsTurnAudioOffAndStoreIt)
{
    for (const auto preset : allQualityPresets) {
        SCOPED_TRACE(std::string(rawValue(preset)));
        ControllerRig rig;
        auto state = rig.make();
        state->setAudio(true);
        state->setPreset(preset);
        const bool keepsAudio = preset == QualityPreset::automatic || preset == QualityPreset::best;
        EXPECT_EQ(state->audio(), keepsAudio);
        EXPECT_EQ(rig.defaults->readBool("audio"), keepsAudio);
        EXPECT_EQ(rig.defaults->readString("preset"), std::string(rawValue(preset)));
    }
}

TEST(AppStateTest, SettingsSurviveARestartThroughTheSettingsFile)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("Tessaly.conf"));
    ControllerRig rig;
    rig.defaults = std::make_shared<QSettingsDefaults>(file);
    {
        auto state = rig.make();
        state->setAudio(true);
        state->setPreset(QualityPreset::smooth);
        state->setPocketMode(true);
        state->setStayAwake(false);
        state->setShowFPS(true);
    }
    rig.defaults = std::make_shared<QSettingsDefaults>(file);
    auto restarted = rig.make();
    EXPECT_FALSE(restarted->isFirstLaunch());
    EXPECT_EQ(restarted->preset(), QualityPreset::smooth);
    EXPECT_FALSE(restarted->audio());
    EXPECT_TRUE(restarted->pocketMode());
    EXPECT_FALSE(restarted->stayAwake());
    EXPECT_TRUE(restarted->showFPS());
}

// Status texts -----------------------------------------------------------------------

TEST(AppStateTest, StatusTextFollowsThePhones)
{
    struct Case {
        const char* name;
        std::vector<Device> devices;
        std::optional<std::string> router;
        std::string expected;
    };
    const std::vector<Case> cases {
        { "no phone", {}, {}, "Phone not found" },
        { "offline only", { usbPhone("A", {}, "offline") }, {}, "Phone not found" },
        { "unauthorized only", { usbPhone("A", {}, "unauthorized") }, {}, "Tap “Allow” on your phone" },
        { "usb without model", { usbPhone("A") }, {}, "Connected via USB" },
        { "usb with model", { usbPhone("A", "Pixel_7") }, {}, "Connected via USB (Pixel_7)" },
        { "usb and wifi", { wifiPhone("192.168.1.5:5555", "Other"), usbPhone("A", "Pixel_7") }, {},
            "Connected via USB + Wi-Fi (Pixel_7)" },
        { "usb and hotspot", { usbPhone("A", "Pixel_7"), wifiPhone("192.168.43.1:5555", "Pixel_7") },
            "192.168.43.1", "Connected via USB + Hotspot (Pixel_7)" },
        { "wifi only", { wifiPhone("192.168.1.5:5555", "Pixel_7") }, "192.168.1.1",
            "Connected via Wi-Fi (Pixel_7)" },
        { "hotspot only", { wifiPhone("192.168.43.1:5555") }, "192.168.43.1", "Connected via Hotspot" },
        { "unready usb beside wifi",
            { usbPhone("A", "X", "unauthorized"), wifiPhone("adb-1._adb-tls-connect._tcp", "Y") }, {},
            "Connected via Wi-Fi (Y)" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ControllerRig rig;
        PlacedAppState state(rig.services());
        state.place(c.devices, c.router);
        EXPECT_EQ(state.statusText(), c.expected);
    }

    ControllerRig missing;
    missing.withScrcpy = false;
    PlacedAppState noTools(missing.services());
    noTools.place({ usbPhone("A") });
    EXPECT_EQ(noTools.statusText(), "adb or scrcpy not found");
    EXPECT_FALSE(noTools.toolsFound());
}

TEST(AppStateTest, DerivedFlagsAndHotspot)
{
    ControllerRig rig;
    PlacedAppState state(rig.services());
    state.place(
        { usbPhone("A", {}, "unauthorized"), wifiPhone("192.168.43.1:5555", {}, "offline") }, "192.168.43.1");
    EXPECT_FALSE(state.hasUSBDevice());
    EXPECT_TRUE(state.wirelessActive()); // any state counts
    EXPECT_FALSE(state.isOnHotspot()); // only a ready phone
    EXPECT_TRUE(state.isHotspot(state.devices()[1]));

    state.place({ usbPhone("A"), wifiPhone("192.168.43.1:5555") }, "192.168.43.1");
    EXPECT_TRUE(state.hasUSBDevice());
    EXPECT_TRUE(state.isOnHotspot());
    state.place({ wifiPhone("192.168.43.1:5555") }, std::nullopt);
    EXPECT_FALSE(state.isOnHotspot());
}

TEST(AppStateTest, MirroringLine)
{
    struct Case {
        std::optional<std::string> label;
        std::optional<FPSReading> reading;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases {
        { std::nullopt, FPSReading { 60, 0 }, std::nullopt },
        { "Best (USB)", std::nullopt, "Mirroring: Best (USB)" },
        { "Best (USB)", FPSReading { 60, 0 }, "Mirroring: Best (USB) · 60 fps" },
        { "Best (USB)", FPSReading { 58, 3 }, "Mirroring: Best (USB) · 58 fps (+3 skipped)" },
    };
    for (const Case& c : cases) {
        ControllerRig rig;
        PlacedAppState state(rig.services());
        EXPECT_EQ(state.mirroringLine(), std::nullopt);
        state.placeMirroring(c.label, c.reading);
        EXPECT_EQ(state.mirroringLine(), c.expected);
    }
}

TEST(AppStateTest, PickDevicePrefersTheCableThenAReachableWirelessPhone)
{
    struct Case {
        const char* name;
        std::vector<Device> devices;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases {
        { "empty", {}, std::nullopt },
        { "usb after wifi", { wifiPhone("192.168.1.5:5555"), usbPhone("U1"), usbPhone("U2") }, "U1" },
        { "unready usb skipped", { usbPhone("U1", {}, "unauthorized"), wifiPhone("192.168.1.5:5555") },
            "192.168.1.5:5555" },
        { "mdns service", { wifiPhone("adb-X._adb-tls-connect._tcp") }, "adb-X._adb-tls-connect._tcp" },
        { "public address skipped", { wifiPhone("8.8.8.8:5555"), wifiPhone("10.0.0.7:5555") },
            "10.0.0.7:5555" },
        { "low port skipped", { wifiPhone("192.168.1.5:80") }, std::nullopt },
        { "offline wifi", { wifiPhone("192.168.1.5:5555", {}, "offline") }, std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto picked = AppState::pickDevice(c.devices);
        EXPECT_EQ(picked ? std::optional(picked->serial) : std::nullopt, c.expected);
    }
}

// Start, refresh and the menu's timer ------------------------------------------------

TEST(AppStateTest, StartRunsTheServerThenReadsThePhones)
{
    ControllerRig rig;
    rig.loginItem->enabled = true;
    rig.network->routerIP = "192.168.1.1";
    rig.adb.on({ "devices", "-l" },
        deviceList({ "ABC123  device usb:1-1 product:p model:Pixel_7 device:d transport_id:3" }));
    auto state = rig.make();
    int changes = 0;
    QObject::connect(state.get(), &AppState::changed, [&] { ++changes; });
    state->start();
    ASSERT_TRUE(test::waitUntilIdle(*state));
    EXPECT_EQ(rig.adb.calls(), (std::vector<Args> { { "start-server" }, { "devices", "-l" } }));
    EXPECT_TRUE(state->launchAtLogin());
    ASSERT_EQ(state->devices().size(), 1u);
    EXPECT_EQ(state->devices()[0].model, "Pixel_7");
    EXPECT_EQ(state->macRouterIP(), "192.168.1.1");
    EXPECT_EQ(state->statusText(), "Connected via USB (Pixel_7)");
    EXPECT_GE(changes, 3);
    EXPECT_FALSE(state->hasRefreshTimer());
}

TEST(AppStateTest, RefreshWithoutAdbChangesNothingAndAFailedListEmptiesIt)
{
    ControllerRig rig;
    rig.withAdb = false;
    rig.network->routerIP = "192.168.1.1";
    auto state = rig.make();
    state->start();
    ASSERT_TRUE(test::waitUntilIdle(*state));
    EXPECT_TRUE(rig.adb.calls().empty());
    EXPECT_EQ(state->macRouterIP(), std::nullopt);
    EXPECT_EQ(state->statusText(), "adb or scrcpy not found");

    ControllerRig failing;
    failing.adb.onSequence({ "devices", "-l" },
        { deviceList({ "A device" }), { .err = "error: protocol fault", .exitCode = 1 } });
    auto listed = failing.make();
    QCoro::waitFor(listed->refresh());
    EXPECT_EQ(listed->devices().size(), 1u);
    QCoro::waitFor(listed->refresh());
    EXPECT_TRUE(listed->devices().empty());
    EXPECT_EQ(listed->statusText(), "Phone not found");
}

TEST(AppStateTest, RefreshTimerLivesOnlyWhileTheMenuIsOpen)
{
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" }, deviceList({}));
    auto state = rig.make();
    EXPECT_FALSE(state->hasRefreshTimer());
    state->start();
    ASSERT_TRUE(test::waitUntilIdle(*state));
    EXPECT_FALSE(state->hasRefreshTimer());

    rig.loginItem->enabled = true;
    state->menuOpened();
    EXPECT_TRUE(state->launchAtLogin()); // re-read on every opening
    EXPECT_TRUE(state->hasRefreshTimer());
    ASSERT_TRUE(test::waitUntilIdle(*state));
    const auto before = rig.adb.calls().size();

    // The 3-second timer keeps refreshing while the menu stays open.
    QEventLoop loop;
    QTimer::singleShot(3400, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_TRUE(test::waitUntilIdle(*state));
    EXPECT_EQ(rig.adb.calls().size(), before + 1);

    state->menuClosed();
    EXPECT_FALSE(state->hasRefreshTimer());
    EXPECT_TRUE(state->findChildren<QTimer*>().empty());
}

// Launch at login --------------------------------------------------------------------

TEST(AppStateTest, LaunchAtLoginFollowsTheRealStateAndReportsFailures)
{
    ControllerRig rig;
    auto state = rig.make();
    state->setLaunchAtLogin(true);
    EXPECT_TRUE(state->launchAtLogin());
    EXPECT_TRUE(rig.presenter->errors.empty());

    rig.loginItem->failure = "Permission denied";
    state->setLaunchAtLogin(false);
    EXPECT_TRUE(state->launchAtLogin()); // still registered
    ASSERT_EQ(rig.presenter->errors.size(), 1u);
    const FriendlyError& error = rig.presenter->errors[0];
    EXPECT_EQ(error.title, "Couldn’t change “Launch at login”.");
    EXPECT_EQ(error.advice,
        "Make sure your autostart folder (~/.config/autostart) can be written, then try again.");
    EXPECT_EQ(error.details, "Permission denied");
    EXPECT_EQ(state->lastError(), error);
    EXPECT_EQ(state->busyMessage(), std::nullopt);

    state->showLastErrorDetails();
    EXPECT_EQ(rig.presenter->details, (std::vector<std::string> { "Permission denied" }));
}

TEST(AppStateTest, LastErrorDetailsFallBackToTitleAndAdvice)
{
    ControllerRig rig;
    auto state = rig.make();
    state->showLastErrorDetails();
    EXPECT_TRUE(rig.presenter->details.empty());
    state->showError({ "Phone not found.", "Plug it in.", "" });
    state->showLastErrorDetails();
    EXPECT_EQ(rig.presenter->details, (std::vector<std::string> { "Phone not found.\n\nPlug it in." }));
}

// Quit -------------------------------------------------------------------------------

TEST(AppStateTest, QuitSendsAWirelessPhoneBackToUsbAndDropsEveryNetworkLink)
{
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" },
        deviceList({ "U1 device usb:1 model:A", "192.168.1.5:5555 device model:A", "192.168.1.5:5555 offline",
            "adb-Z._adb-tls-connect._tcp unauthorized" }));
    auto state = rig.make();
    state->cleanupForQuit();
    EXPECT_EQ(rig.adb.calls(),
        (std::vector<Args> {
            { "devices", "-l" },
            { "-s", "192.168.1.5:5555", "usb" },
            { "disconnect", "192.168.1.5:5555" },
            { "disconnect", "192.168.1.5:5555" },
            { "disconnect", "adb-Z._adb-tls-connect._tcp" },
        }));

    // Only a cable phone ready: it gets "usb", the unready wireless one is dropped.
    ControllerRig cable;
    cable.adb.on({ "devices", "-l" }, deviceList({ "10.0.0.9:5555 offline", "U1 device" }));
    cable.make()->cleanupForQuit();
    EXPECT_EQ(cable.adb.calls(),
        (std::vector<Args> {
            { "devices", "-l" }, { "-s", "U1", "usb" }, { "disconnect", "10.0.0.9:5555" } }));
}

TEST(AppStateTest, QuitRunsNothingWhenSwitchedOffOrNothingIsWireless)
{
    ControllerRig off;
    auto state = off.make();
    state->setAutoDisableWirelessOnQuit(false);
    state->cleanupForQuit();
    EXPECT_TRUE(off.adb.calls().empty());

    ControllerRig usbOnly;
    usbOnly.adb.on({ "devices", "-l" }, deviceList({ "U1 device" }));
    usbOnly.make()->cleanupForQuit();
    EXPECT_EQ(usbOnly.adb.calls(), (std::vector<Args> { { "devices", "-l" } }));
}

TEST(AppStateTest, QuitCommandsHaveShortLimits)
{
    using clock = std::chrono::steady_clock;
    ControllerRig rig;
    // Answers within the 3-second limit of the list, then hangs past the 4-second limit.
    auto listing = deviceList({ "192.168.1.5:5555 device" });
    listing.delay = 2.2;
    rig.adb.on({ "devices", "-l" }, listing);
    rig.adb.on({ "-s", "192.168.1.5:5555", "usb" }, { .delay = 30 });
    rig.adb.on({ "disconnect", "192.168.1.5:5555" }, { .delay = 30 });
    auto state = rig.make();
    const auto begin = clock::now();
    state->cleanupForQuit();
    const double seconds = std::chrono::duration<double>(clock::now() - begin).count();
    EXPECT_EQ(rig.adb.calls().size(), 3u);
    EXPECT_GT(seconds, 2.0 + 4 + 4 - 0.5);
    EXPECT_LT(seconds, 2.2 + 4 + 4 + 2.0);
}

} // namespace
} // namespace tessaly
