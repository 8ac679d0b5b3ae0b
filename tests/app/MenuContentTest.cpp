#include <QImage>

#include <gtest/gtest.h>

#include "MenuProbe.h"
#include "app/TrayIcon.h"

namespace tessaly {
namespace {

using namespace test;

TEST(MenuContentTest, ShowsTheControllersStateAndFollowsItsChanges)
{
    ControllerRig rig;
    rig.withAdb = false;
    PlacedAppState state(rig.services());
    MenuContent content(state);
    QMenu& menu = *content.menu();
    EXPECT_EQ(entries(menu).first(), QStringLiteral("adb or scrcpy not found"));
    EXPECT_FALSE(entries(menu).contains(QStringLiteral("Show details of last error…")));
    saveScreenshot(&menu, QStringLiteral("menu-no-tools"));

    state.showError({ "Phone not found.", "Plug it in.", "" });
    EXPECT_TRUE(entries(menu).contains(QStringLiteral("Show details of last error…")));
    state.placeBusy("Looking for your phone…");
    EXPECT_TRUE(entries(menu).contains(QStringLiteral("⏳ Looking for your phone…")));
    state.placeBusy(std::nullopt);
    EXPECT_FALSE(entries(menu).join('\n').contains(QStringLiteral("⏳")));
}

TEST(MenuContentTest, TogglesAndPresetsWriteThroughTheController)
{
    ControllerRig rig;
    PlacedAppState state(rig.services());
    MenuContent content(state);
    QMenu& menu = *content.menu();
    QAction* audio = item(menu, QStringLiteral("Audio"));
    QAction* autoPreset = item(menu, QStringLiteral("Auto (best for your connection)"));
    ASSERT_TRUE(audio && autoPreset);
    audio->trigger();
    EXPECT_TRUE(state.audio() && audio->isChecked());
    item(menu, QStringLiteral("Smooth (Wi-Fi)"))->trigger();
    EXPECT_EQ(state.preset(), QualityPreset::smooth);
    EXPECT_FALSE(audio->isChecked()); // the Wi-Fi preset switched audio off
    EXPECT_FALSE(autoPreset->isChecked());

    QAction* login = item(menu, QStringLiteral("Launch at login"));
    rig.loginItem->failure = "read-only file system";
    login->trigger();
    EXPECT_FALSE(login->isChecked()); // follows the real state after the failure
    EXPECT_EQ(rig.presenter->errors.size(), 1u);
    for (const char* toggle :
        { "Pocket mode (phone screen off, use it from the computer)", "Stay awake while charging",
            "Real keyboard mode", "Show FPS (tray icon + menu)", "Auto-disable wireless when I quit" }) {
        QAction* action = item(menu, QString::fromUtf8(toggle));
        EXPECT_TRUE(action && action->isCheckable()) << toggle;
    }
    EXPECT_EQ(item(menu, QStringLiteral("Quit Tessaly"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST(MenuContentTest, RefreshTimerLivesOnlyWhileAMenuIsOpen)
{
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" }, deviceList({}));
    PlacedAppState state(rig.services());
    MenuContent content(state);
    QMenu* hotspot = item(*content.menu(), QStringLiteral("Hotspot Mode (direct link)"))->menu();
    EXPECT_FALSE(state.hasRefreshTimer());
    for (QMenu* menu : { content.menu(), hotspot }) {
        emit menu->aboutToShow();
        EXPECT_TRUE(state.hasRefreshTimer());
        emit menu->aboutToHide(); // the whole menu is closed
        EXPECT_FALSE(state.hasRefreshTimer());
    }
    // Back from the submenu to the main menu: the list keeps refreshing.
    content.menu()->popup(QPoint(0, 0));
    emit hotspot->aboutToShow();
    emit hotspot->aboutToHide();
    EXPECT_TRUE(state.hasRefreshTimer());
    content.menu()->hide();
    EXPECT_FALSE(state.hasRefreshTimer());
    EXPECT_TRUE(waitUntilIdle(state));
}

TEST(MenuContentTest, MirrorItemsFollowToolsBusyAndSession)
{
    ControllerRig rig;
    PlacedAppState state(rig.services());
    MenuContent content(state);
    QAction* mirror = item(*content.menu(), QStringLiteral("Mirror Phone"));
    QAction* stop = item(*content.menu(), QStringLiteral("Stop Mirroring"));
    ASSERT_TRUE(mirror && stop);
    EXPECT_EQ(mirror->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
    const auto expectEnabled = [&](bool mirrorOn, bool stopOn) {
        EXPECT_EQ(mirror->isEnabled(), mirrorOn);
        EXPECT_EQ(stop->isEnabled(), stopOn);
    };
    expectEnabled(true, false);
    state.placeBusy("Looking for your phone…");
    expectEnabled(false, false);
    state.placeBusy(std::nullopt);
    state.placeMirroring("Best (USB)", std::nullopt);
    EXPECT_EQ(mirror->text(), QStringLiteral("Mirroring…"));
    expectEnabled(false, true);
    item(*content.menu(), QStringLiteral("Show scrcpy output…"))->trigger();
    EXPECT_EQ(rig.presenter->details, std::vector<std::string> { "" });

    ControllerRig noScrcpy;
    noScrcpy.withScrcpy = false;
    PlacedAppState missing(noScrcpy.services());
    MenuContent missingContent(missing);
    EXPECT_FALSE(item(*missingContent.menu(), QStringLiteral("Mirror Phone"))->isEnabled());
    EXPECT_TRUE(item(*missingContent.menu(), QStringLiteral("Getting Started…")));
}

TEST(MenuContentTest, SessionAndQualityLines)
{
    ConnectionQuality quality;
    quality.link = ConnectionQuality::Link::router;
    quality.phoneBand = WiFiBand::ghz2_4;
    quality.macBand = WiFiBand::ghz5;
    quality.ping = PingResult { { 18.2, 21.0, 16.4, 19.9, 24.3, 17.8 }, 9 };
    ControllerRig rig;
    PlacedAppState state(rig.services());
    state.place({ Device { "192.168.1.40:5555", "device", "Pixel_7", C::wifi } });
    state.placeMirroring("Auto → Low latency (Wi-Fi)", FPSReading { 57, 4 });
    state.placePocketMode(true);
    state.placeQuality(quality, false);
    MenuContent content(state);
    const QStringList texts = entries(*content.menu());
    EXPECT_TRUE(
        texts.contains(QStringLiteral("Mirroring: Auto → Low latency (Wi-Fi) · 57 fps (+4 skipped)")));
    EXPECT_TRUE(texts.contains(QStringLiteral("🌙 Pocket mode: the phone’s screen is off. Don’t press its "
                                              "power button.\n     Stopping the mirror locks the phone.")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Connection: Poor · ping 20 ms · jitter 4 ms · 14% lost\n"
                                              "Wi-Fi: phone 2.4 GHz · computer 5 GHz (via router)\n"
                                              "💡 Switch to 5 GHz or use Hotspot mode")))
        << texts.join(QStringLiteral(" | ")).toStdString();
    EXPECT_FALSE(texts.contains(QStringLiteral("Connection: checking…")));
    saveScreenshot(content.menu(), QStringLiteral("menu-mirroring"));

    state.placeQuality(std::nullopt, true);
    EXPECT_TRUE(entries(*content.menu()).contains(QStringLiteral("Connection: checking…")));
    saveScreenshot(content.menu(), QStringLiteral("menu-checking-connection"));
}

TEST(MenuContentTest, TrayIconCarriesTheFrameRateOnlyWhenGiven)
{
    const QImage plain = TrayIcon::pixmap(false, std::nullopt, 64).toImage();
    const QImage waves = TrayIcon::pixmap(true, std::nullopt, 64).toImage();
    const QImage number = TrayIcon::pixmap(true, 58, 64).toImage();
    EXPECT_NE(plain, waves);
    EXPECT_NE(waves, number);
    plain.save(screenshotFolder() + QStringLiteral("/tray-icon.png"));
    waves.save(screenshotFolder() + QStringLiteral("/tray-icon-mirroring.png"));
    number.save(screenshotFolder() + QStringLiteral("/tray-icon-fps.png"));
}

TEST(MenuContentTest, StatusLinesAndScreenshots)
{
    const struct {
        std::vector<Device> devices;
        std::optional<std::string> router, busy;
        QString name;
        QStringList lines; // the first line, then lines anywhere in the menu
    } cases[] = {
        { { { "R58N12345", "unauthorized", {}, C::usb } }, {}, {}, QStringLiteral("menu-unauthorized"),
            { QStringLiteral("Tap “Allow” on your phone") } },
        { { { "R58N12345", "device", "Pixel_7", C::usb },
              { "192.168.43.1:5555", "device", "Pixel_7", C::wifi } },
            "192.168.43.1", {}, QStringLiteral("menu-usb-and-hotspot"),
            { QStringLiteral("Connected via USB + Hotspot (Pixel_7)"),
                QStringLiteral("⚠️ Wireless debugging is ON – only use on your home Wi-Fi"),
                QStringLiteral("📶 This computer is using your phone’s data while on hotspot") } },
        { { { "R58N12345", "device", "Pixel_7", C::usb } }, {}, "Looking for your phone…",
            QStringLiteral("menu-busy"),
            { QStringLiteral("Connected via USB (Pixel_7)"), QStringLiteral("⏳ Looking for your phone…") } },
    };
    for (const auto& c : cases) {
        ControllerRig rig;
        PlacedAppState state(rig.services());
        state.place(c.devices, c.router);
        state.placeBusy(c.busy);
        MenuContent content(state);
        const QStringList texts = entries(*content.menu());
        EXPECT_EQ(texts.first(), c.lines.first());
        for (const QString& line : c.lines)
            EXPECT_TRUE(texts.contains(line)) << line.toStdString();
        EXPECT_FALSE(saveScreenshot(content.menu(), c.name).isEmpty());
    }
}

} // namespace
} // namespace tessaly
