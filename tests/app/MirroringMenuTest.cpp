#include <QImage>
#include <QMenu>

#include <gtest/gtest.h>

#include "app/MenuContent.h"
#include "app/TrayIcon.h"
#include "support/ControllerFakes.h"
#include "support/Screenshots.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::PlacedAppState;

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

ConnectionQuality slowRouterLink()
{
    ConnectionQuality quality;
    quality.link = ConnectionQuality::Link::router;
    quality.phoneBand = WiFiBand::ghz2_4;
    quality.macBand = WiFiBand::ghz5;
    quality.ping = PingResult { { 18.2, 21.0, 16.4, 19.9, 24.3, 17.8 }, 9 };
    return quality;
}

TEST(MirroringMenuTest, MirrorButtonsFollowToolsBusyAndSession)
{
    ControllerRig rig;
    PlacedAppState state(rig.services());
    MenuContent content(state);
    const QMenu& menu = *content.menu();
    QAction* mirror = item(menu, QStringLiteral("Mirror Phone"));
    QAction* stop = item(menu, QStringLiteral("Stop Mirroring"));
    ASSERT_TRUE(mirror && stop);
    EXPECT_EQ(mirror->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
    EXPECT_TRUE(mirror->isEnabled());
    EXPECT_FALSE(stop->isEnabled());

    state.placeBusy("Looking for your phone…");
    EXPECT_FALSE(mirror->isEnabled());
    EXPECT_FALSE(stop->isEnabled());
    state.placeBusy(std::nullopt);

    state.placeMirroring("Best (USB)", std::nullopt);
    EXPECT_EQ(mirror->text(), QStringLiteral("Mirroring…"));
    EXPECT_FALSE(mirror->isEnabled());
    EXPECT_TRUE(stop->isEnabled());

    ControllerRig noScrcpy;
    noScrcpy.withScrcpy = false;
    PlacedAppState missing(noScrcpy.services());
    MenuContent missingContent(missing);
    EXPECT_FALSE(item(*missingContent.menu(), QStringLiteral("Mirror Phone"))->isEnabled());
    EXPECT_TRUE(item(*missingContent.menu(), QStringLiteral("Getting Started…")));
    EXPECT_TRUE(item(*missingContent.menu(), QStringLiteral("Show scrcpy output…")));
}

TEST(MirroringMenuTest, ScrcpyOutputOpensTheDetailsWindow)
{
    ControllerRig rig;
    PlacedAppState state(rig.services());
    MenuContent content(state);
    item(*content.menu(), QStringLiteral("Show scrcpy output…"))->trigger();
    EXPECT_EQ(rig.presenter->details, std::vector<std::string> { "" });
}

TEST(MirroringMenuTest, SessionAndQualityLines)
{
    ControllerRig rig;
    PlacedAppState state(rig.services());
    state.place({ Device { "192.168.1.40:5555", "device", "Pixel_7", Device::Connection::wifi } });
    state.placeMirroring("Auto → Low latency (Wi-Fi)", FPSReading { 57, 4 });
    state.placePocketMode(true);
    state.placeQuality(slowRouterLink(), false);
    MenuContent content(state);
    const QStringList texts = visibleTexts(*content.menu());
    EXPECT_TRUE(
        texts.contains(QStringLiteral("Mirroring: Auto → Low latency (Wi-Fi) · 57 fps (+4 skipped)")));
    EXPECT_TRUE(texts.contains(
        QStringLiteral("🌙 Pocket mode: the phone’s screen is off. Don’t press its power button.\n"
                       "     Stopping the mirror locks the phone.")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Connection: Poor · ping 20 ms · jitter 4 ms · 14% lost\n"
                                              "Wi-Fi: phone 2.4 GHz · computer 5 GHz (via router)\n"
                                              "💡 Switch to 5 GHz or use Hotspot mode")))
        << texts.join(QStringLiteral(" | ")).toStdString();
    EXPECT_FALSE(texts.contains(QStringLiteral("Connection: checking…")));
    test::saveScreenshot(content.menu(), QStringLiteral("menu-mirroring"));

    state.placeQuality(std::nullopt, true);
    EXPECT_TRUE(visibleTexts(*content.menu()).contains(QStringLiteral("Connection: checking…")));
    test::saveScreenshot(content.menu(), QStringLiteral("menu-checking-connection"));
}

TEST(MirroringMenuTest, TrayIconCarriesTheFrameRateOnlyWhenGiven)
{
    const QImage plain = TrayIcon::pixmap(false, std::nullopt, 64).toImage();
    const QImage waves = TrayIcon::pixmap(true, std::nullopt, 64).toImage();
    const QImage number = TrayIcon::pixmap(true, 58, 64).toImage();
    EXPECT_NE(plain, waves);
    EXPECT_NE(waves, number);
    EXPECT_EQ(TrayIcon::pixmap(true, std::nullopt, 64).toImage(), waves);
    plain.save(test::screenshotFolder() + QStringLiteral("/tray-icon.png"));
    waves.save(test::screenshotFolder() + QStringLiteral("/tray-icon-mirroring.png"));
    number.save(test::screenshotFolder() + QStringLiteral("/tray-icon-fps.png"));
}

} // namespace
} // namespace tessaly
