#include <chrono>
#include <tuple>

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "platform/QSettingsDefaults.h"
#include "support/ControllerFakes.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::deviceList;
using test::PlacedAppState;
using test::usbPhone;
using test::wifiPhone;
using Args = std::vector<std::string>;

TEST(AppStateTest, StoredSettingsAreReadWithTheirFallbacksAndMigrated)
{
    using O = Defaults::Object;
    const auto text = [](const char* value) { return O(std::string(value)); };
    const O v1(std::int64_t(1)), v2(std::int64_t(2));
    struct Case {
        std::map<std::string, O> stored;
        QualityPreset preset;
        bool pocketMode = false, stayAwake = true, audio = false, autoDisable = true;
    };
    const Case cases[] {
        { {}, QualityPreset::automatic }, // first launch
        { { { "settingsVersion", v1 }, { "preset", text("lowLatency") }, { "turnScreenOff", O(true) } },
            QualityPreset::automatic, true },
        { { { "settingsVersion", v2 }, { "preset", text("ultra") }, { "stayAwake", text("maybe") },
              { "autoDisableWirelessOnQuit", O(Defaults::Other {}) }, { "pocketMode", O(std::int64_t(7)) } },
            QualityPreset::automatic },
        { { { "settingsVersion", v2 }, { "preset", text("smooth") }, { "turnScreenOff", O(true) },
              { "pocketMode", O(false) }, { "stayAwake", O(false) },
              { "autoDisableWirelessOnQuit", O(false) }, { "audio", O(true) } },
            QualityPreset::smooth, false, false, true, false },
    };
    for (const Case& c : cases) {
        ControllerRig rig;
        rig.defaults = std::make_shared<InMemoryDefaults>(c.stored);
        auto state = rig.make();
        EXPECT_EQ(state->isFirstLaunch(), c.stored.empty());
        EXPECT_EQ(rig.defaults->readInt("settingsVersion"), 2);
        EXPECT_EQ(state->preset(), c.preset);
        EXPECT_EQ(std::tuple(state->pocketMode(), state->stayAwake(), state->audio(),
                      state->autoDisableWirelessOnQuit()),
            std::tuple(c.pocketMode, c.stayAwake, c.audio, c.autoDisable));
    }
}

// Each launch reads the settings file afresh; the guide opens on the very first one only,
// and not for someone who used an earlier version.
TEST(AppStateTest, OnlyTheFirstLaunchOpensTheSetupGuide)
{
    QTemporaryDir folder;
    const QString fresh = folder.filePath(QStringLiteral("fresh.conf"));
    const QString earlier = folder.filePath(QStringLiteral("earlier.conf"));
    QSettingsDefaults(earlier).writeInt("settingsVersion", 1);
    std::vector<int> requests;
    for (const QString& file : { fresh, fresh, fresh, earlier }) {
        ControllerRig rig;
        rig.defaults = std::make_shared<QSettingsDefaults>(file);
        auto state = rig.make();
        int requested = 0;
        QObject::connect(state.get(), &AppState::setupGuideRequested, [&] { ++requested; });
        state->start();
        ASSERT_TRUE(test::waitUntilIdle(*state));
        requests.push_back(requested);
    }
    EXPECT_EQ(requests, (std::vector<int> { 1, 0, 0, 0 }));
}

TEST(AppStateTest, WiFiPresetsTurnAudioOffAndTheChoiceIsStored)
{
    for (const auto preset : allQualityPresets) {
        SCOPED_TRACE(std::string(rawValue(preset)));
        ControllerRig rig;
        auto state = rig.make();
        state->setAudio(true);
        state->setPreset(preset);
        const bool keepsAudio = preset == QualityPreset::automatic || preset == QualityPreset::best;
        EXPECT_EQ(state->audio(), keepsAudio);
        auto restarted = rig.make();
        EXPECT_EQ(restarted->preset(), preset);
        EXPECT_EQ(restarted->audio(), keepsAudio);
    }
}

TEST(AppStateTest, StatusTextFollowsThePhones)
{
    const std::tuple<std::vector<Device>, std::optional<std::string>, std::string> cases[] {
        { {}, {}, "Phone not found" },
        { { usbPhone("A", {}, "unauthorized") }, {}, "Tap “Allow” on your phone" },
        { { usbPhone("A") }, {}, "Connected via USB" },
        { { wifiPhone("192.168.1.5:5555", "Other"), usbPhone("A", "Pixel_7") }, {},
            "Connected via USB + Wi-Fi (Pixel_7)" },
        { { usbPhone("A", "Pixel_7"), wifiPhone("192.168.43.1:5555", "Pixel_7") }, "192.168.43.1",
            "Connected via USB + Hotspot (Pixel_7)" },
        { { wifiPhone("192.168.1.5:5555", "Pixel_7") }, "192.168.1.1", "Connected via Wi-Fi (Pixel_7)" },
        { { wifiPhone("192.168.43.1:5555") }, "192.168.43.1", "Connected via Hotspot" },
        { { wifiPhone("192.168.43.1:5555", {}, "offline") }, "192.168.43.1", "Phone not found" },
        { { usbPhone("A", "X", "unauthorized"), wifiPhone("adb-1._adb-tls-connect._tcp", "Y") }, {},
            "Connected via Wi-Fi (Y)" },
    };
    ControllerRig rig;
    PlacedAppState state(rig.services());
    for (const auto& [devices, router, expected] : cases) {
        state.place(devices, router);
        EXPECT_EQ(state.statusText(), expected);
    }
}

TEST(AppStateTest, PickDevicePrefersTheCableThenAReachableWirelessPhone)
{
    const std::pair<std::vector<Device>, std::optional<std::string>> cases[] {
        { {}, std::nullopt },
        { { wifiPhone("192.168.1.5:5555"), usbPhone("U1"), usbPhone("U2") }, "U1" },
        { { usbPhone("U1", {}, "unauthorized"), wifiPhone("192.168.1.5:5555") }, "192.168.1.5:5555" },
        { { wifiPhone("adb-X._adb-tls-connect._tcp") }, "adb-X._adb-tls-connect._tcp" },
        { { wifiPhone("8.8.8.8:5555"), wifiPhone("10.0.0.7:5555") }, "10.0.0.7:5555" },
        { { wifiPhone("192.168.1.5:80") }, std::nullopt },
        { { wifiPhone("192.168.1.5:5555", {}, "offline") }, std::nullopt },
    };
    for (const auto& [devices, expected] : cases) {
        const auto picked = AppState::pickDevice(devices);
        EXPECT_EQ(picked ? std::optional(picked->serial) : std::nullopt, expected);
    }
}

TEST(AppStateTest, StartRunsTheServerThenReadsThePhonesAndAFailedListEmptiesThem)
{
    ControllerRig rig;
    rig.loginItem->enabled = true;
    rig.network->routerIP = "192.168.1.1";
    rig.adb.onSequence({ "devices", "-l" },
        { deviceList({ "ABC123  device usb:1-1 product:p model:Pixel_7 device:d transport_id:3" }),
            { .err = "error: protocol fault", .exitCode = 1 } });
    auto state = rig.make();
    state->start();
    ASSERT_TRUE(test::waitUntilIdle(*state));
    EXPECT_EQ(rig.adb.calls(), (std::vector<Args> { { "start-server" }, { "devices", "-l" } }));
    EXPECT_TRUE(state->launchAtLogin());
    EXPECT_EQ(state->macRouterIP(), "192.168.1.1");
    EXPECT_EQ(state->statusText(), "Connected via USB (Pixel_7)");
    QCoro::waitFor(state->refresh());
    EXPECT_EQ(state->statusText(), "Phone not found");

    // The status line names what is missing (both: the menu's table).
    for (const bool adb : { false, true }) {
        ControllerRig missing;
        std::tie(missing.withAdb, missing.withScrcpy) = std::pair(adb, !adb);
        missing.adb.on({ "devices", "-l" }, deviceList({}));
        auto without = missing.make();
        without->start();
        ASSERT_TRUE(test::waitUntilIdle(*without));
        EXPECT_EQ(without->statusText(), adb ? "scrcpy not found" : "adb not found");
    }
}

TEST(AppStateTest, RefreshTimerLivesOnlyWhileTheMenuIsOpen)
{
    ControllerRig rig;
    rig.timeScale = 0.1;
    rig.adb.on({ "devices", "-l" }, deviceList({}));
    auto state = rig.make();
    EXPECT_FALSE(state->hasRefreshTimer());
    rig.loginItem->enabled = true;
    state->menuOpened();
    EXPECT_TRUE(state->launchAtLogin()); // re-read on every opening
    EXPECT_TRUE(state->hasRefreshTimer());
    ASSERT_TRUE(test::waitUntilIdle(*state));
    const auto before = rig.adb.calls().size();
    QTest::qWait(450); // one more refresh from the 3-second timer, at a tenth
    ASSERT_TRUE(test::waitUntilIdle(*state));
    EXPECT_EQ(rig.adb.calls().size(), before + 1);

    state->menuClosed();
    EXPECT_FALSE(state->hasRefreshTimer());
    EXPECT_TRUE(state->findChildren<QTimer*>().empty());
}

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
    const FriendlyError expected = FriendlyError::loginItemFailed("Permission denied");
    EXPECT_EQ(rig.presenter->errors, std::vector<FriendlyError> { expected });
    EXPECT_EQ(state->lastError(), expected);

    state->showLastErrorDetails();
    EXPECT_EQ(rig.presenter->details, Args { "Permission denied" });
}

TEST(AppStateTest, QuitSendsAWirelessPhoneBackToUsbAndDropsEveryNetworkLink)
{
    const Args list { "devices", "-l" };
    const std::tuple<bool, std::vector<std::string>, std::vector<Args>> cases[] {
        { true,
            { "U1 device usb:1 model:A", "192.168.1.5:5555 device model:A", "192.168.1.5:5555 offline",
                "adb-Z._adb-tls-connect._tcp unauthorized" },
            { list, { "-s", "192.168.1.5:5555", "usb" }, { "disconnect", "192.168.1.5:5555" },
                { "disconnect", "192.168.1.5:5555" }, { "disconnect", "adb-Z._adb-tls-connect._tcp" } } },
        { true, { "10.0.0.9:5555 offline", "U1 device" }, // only the cable phone is ready
            { list, { "-s", "U1", "usb" }, { "disconnect", "10.0.0.9:5555" } } },
        { true, { "U1 device" }, { list } }, { false, { "192.168.1.5:5555 device" }, {} }
    };
    for (const auto& [enabled, listed, calls] : cases) {
        ControllerRig rig;
        rig.adb.on(list, deviceList(listed));
        auto state = rig.make();
        state->setAutoDisableWirelessOnQuit(enabled);
        state->cleanupForQuit();
        EXPECT_EQ(rig.adb.calls(), calls);
    }
}

TEST(AppStateTest, QuitCommandsHaveShortLimits)
{
    ControllerRig rig;
    rig.timeScale = 0.1;
    // At a tenth: the list answers within its 3-second limit; each next command hangs past its
    // 4-second limit.
    auto listing = deviceList({ "192.168.1.5:5555 device" });
    listing.delay = 0.22;
    rig.adb.on({ "devices", "-l" }, listing);
    rig.adb.on({ "-s", "192.168.1.5:5555", "usb" }, { .delay = 30 });
    rig.adb.on({ "disconnect", "192.168.1.5:5555" }, { .delay = 30 });
    const auto begin = std::chrono::steady_clock::now();
    rig.make()->cleanupForQuit();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_EQ(rig.adb.calls().size(), 3u);
    EXPECT_GT(seconds, 0.2 + 0.4 + 0.4);
    EXPECT_LT(seconds, 0.22 + 0.4 + 0.4 + 0.3);
}

} // namespace
} // namespace tessaly
