#include <QActionGroup>
#include <QMenu>

#include <gtest/gtest.h>

#include "app/MenuContent.h"
#include "support/ControllerFakes.h"
#include "support/Screenshots.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::PlacedAppState;

Device phone(std::string serial, std::string state, Device::Connection connection,
    std::optional<std::string> model = {})
{
    return Device { std::move(serial), std::move(state), std::move(model), connection };
}

QAction* item(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

QStringList visibleTexts(const QMenu& menu)
{
    QStringList texts;
    for (QAction* action : menu.actions())
        if (action->isVisible() && !action->isSeparator())
            texts << action->text();
    return texts;
}

TEST(MenuContentTest, ShowsTheControllersStateAndFollowsItsChanges)
{
    ControllerRig rig;
    rig.withAdb = false;
    PlacedAppState state(rig.services());
    MenuContent content(state);
    QMenu& menu = *content.menu();

    EXPECT_EQ(menu.actions().first()->text(), QStringLiteral("adb or scrcpy not found"));
    EXPECT_FALSE(visibleTexts(menu).contains(QStringLiteral("Show details of last error…")));
    test::saveScreenshot(&menu, QStringLiteral("menu-no-tools"));

    state.showError({ "Phone not found.", "Plug it in.", "" });
    EXPECT_TRUE(item(menu, QStringLiteral("Show details of last error…"))->isVisible());

    state.placeBusy("Looking for your phone…");
    EXPECT_TRUE(visibleTexts(menu).contains(QStringLiteral("⏳ Looking for your phone…")));
    state.placeBusy(std::nullopt);
    EXPECT_FALSE(visibleTexts(menu).join('\n').contains(QStringLiteral("⏳")));
}

TEST(MenuContentTest, TogglesAndPresetsWriteThroughTheController)
{
    ControllerRig rig;
    PlacedAppState state(rig.services());
    MenuContent content(state);
    QMenu& menu = *content.menu();

    QAction* smooth = item(menu, QStringLiteral("Smooth (Wi-Fi)"));
    QAction* audio = item(menu, QStringLiteral("Audio"));
    ASSERT_TRUE(smooth && audio);
    audio->trigger();
    EXPECT_TRUE(state.audio());
    EXPECT_TRUE(audio->isChecked());
    smooth->trigger();
    EXPECT_EQ(state.preset(), QualityPreset::smooth);
    EXPECT_FALSE(audio->isChecked()); // the Wi-Fi preset switched audio off
    EXPECT_TRUE(item(menu, QStringLiteral("Auto (best for your connection)"))->isEnabled());
    EXPECT_FALSE(item(menu, QStringLiteral("Auto (best for your connection)"))->isChecked());

    QAction* login = item(menu, QStringLiteral("Launch at login"));
    rig.loginItem->failure = "read-only file system";
    login->trigger();
    EXPECT_FALSE(login->isChecked()); // follows the real state after the failure
    EXPECT_EQ(rig.presenter->errors.size(), 1u);

    for (const char* toggle :
        { "Pocket mode (phone screen off, use it from the computer)", "Stay awake while charging",
            "Real keyboard mode", "Show FPS (tray icon + menu)", "Auto-disable wireless when I quit" })
        EXPECT_TRUE(
            item(menu, QString::fromUtf8(toggle)) && item(menu, QString::fromUtf8(toggle))->isCheckable())
            << toggle;
    EXPECT_EQ(item(menu, QStringLiteral("Quit Tessaly"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST(MenuContentTest, OpeningTheMenuStartsTheRefreshTimerAndClosingEndsIt)
{
    ControllerRig rig;
    PlacedAppState state(rig.services());
    MenuContent content(state);
    emit content.menu()->aboutToShow();
    EXPECT_TRUE(state.hasRefreshTimer());
    emit content.menu()->aboutToHide();
    EXPECT_FALSE(state.hasRefreshTimer());
    test::waitUntilIdle(state);
}

TEST(MenuContentTest, Screenshots)
{
    using C = Device::Connection;
    {
        ControllerRig rig;
        PlacedAppState state(rig.services());
        state.place({ phone("R58N12345", "unauthorized", C::usb) });
        MenuContent content(state);
        EXPECT_EQ(content.menu()->actions().first()->text(), QStringLiteral("Tap “Allow” on your phone"));
        test::saveScreenshot(content.menu(), QStringLiteral("menu-unauthorized"));
    }
    {
        ControllerRig rig;
        PlacedAppState state(rig.services());
        state.place({ phone("R58N12345", "device", C::usb, "Pixel_7"),
                        phone("192.168.43.1:5555", "device", C::wifi, "Pixel_7") },
            "192.168.43.1");
        MenuContent content(state);
        const QStringList texts = visibleTexts(*content.menu());
        EXPECT_EQ(texts.first(), QStringLiteral("Connected via USB + Hotspot (Pixel_7)"));
        EXPECT_TRUE(texts.contains(
            QStringLiteral("⚠️ Wireless debugging is ON – only use on your home Wi-Fi")));
        EXPECT_TRUE(
            texts.contains(QStringLiteral("📶 This computer is using your phone’s data while on hotspot")));
        test::saveScreenshot(content.menu(), QStringLiteral("menu-usb-and-hotspot"));
    }
    {
        ControllerRig rig;
        PlacedAppState state(rig.services());
        state.place({ phone("R58N12345", "device", C::usb, "Pixel_7") });
        state.placeBusy("Looking for your phone…");
        MenuContent content(state);
        test::saveScreenshot(content.menu(), QStringLiteral("menu-busy"));
    }
}

} // namespace
} // namespace tessaly
