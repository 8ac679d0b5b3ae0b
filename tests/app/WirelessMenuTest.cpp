#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>

#include <gtest/gtest.h>

#include "MenuProbe.h"
#include "app/ErrorAlerts.h"

namespace tessaly {
namespace {

using namespace test;

struct WirelessItems {
    QAction* goWireless;
    QMenu* hotspot;
    QAction* connectHotspot;
    QAction* disconnect;

    explicit WirelessItems(const QMenu& menu)
        : goWireless(item(menu, QStringLiteral("Go Wireless (home Wi-Fi)")))
        , hotspot(item(menu, QStringLiteral("Hotspot Mode (direct link)"))->menu())
        , connectHotspot(item(*hotspot, QStringLiteral("Connect via Hotspot")))
        , disconnect(item(menu, QStringLiteral("Disconnect Wireless")))
    {
    }
};

const Device kUsb { "U1", "device", "Pixel_7", C::usb };
const Device kWifi { "192.168.1.40:5555", "device", "Pixel_7", C::wifi };

TEST(WirelessMenuTest, ItemsSitBetweenDividersWithTheHotspotSteps)
{
    ControllerRig rig;
    PlacedAppState state(rig.services());
    MenuContent content(state);
    const QStringList texts = entries(*content.menu());
    const auto at = texts.indexOf(QStringLiteral("Go Wireless (home Wi-Fi)"));
    ASSERT_GT(at, 0);
    EXPECT_EQ(texts.mid(at - 1, 5),
        (QStringList { QStringLiteral("--"), QStringLiteral("Go Wireless (home Wi-Fi)"),
            QStringLiteral("Hotspot Mode (direct link)"), QStringLiteral("Disconnect Wireless"),
            QStringLiteral("--") }));
    EXPECT_EQ(entries(*WirelessItems(*content.menu()).hotspot),
        (QStringList { QStringLiteral("Fastest wireless option: phone → computer directly."),
            QStringLiteral("1. On your phone, turn on Hotspot (5 GHz band if available)"),
            QStringLiteral("2. On this computer, join the phone’s hotspot Wi-Fi"),
            QStringLiteral("3. Click “Connect via Hotspot” below"),
            QStringLiteral("   If it fails: plug in the USB cable once and click it again"),
            QStringLiteral("--"), QStringLiteral("Connect via Hotspot"), QStringLiteral("--"),
            QStringLiteral("Note: this computer uses the phone’s mobile data while on its hotspot.") }));
}

TEST(WirelessMenuTest, ItemsAreEnabledByThePhonesAndDisabledWhileBusy)
{
    const struct {
        const char* name;
        std::vector<Device> devices;
        bool busy, go, hotspot, disconnect;
    } cases[] = {
        { "no phone", {}, false, false, true, false },
        { "cable phone", { kUsb }, false, true, true, false },
        { "cable phone not allowed", { { "U1", "unauthorized", "Pixel_7", C::usb } }, false, false, true,
            false },
        { "wireless phone offline", { { "192.168.1.40:5555", "offline", "Pixel_7", C::wifi } }, false, false,
            true, true },
        { "both, busy", { kUsb, kWifi }, true, false, false, false },
    };
    for (const auto& c : cases) {
        ControllerRig rig;
        PlacedAppState state(rig.services());
        MenuContent content(state);
        state.place(c.devices);
        state.placeBusy(c.busy ? std::optional<std::string>("Connecting to 192.168.1.40…") : std::nullopt);
        const WirelessItems items(*content.menu());
        EXPECT_EQ(items.goWireless->isEnabled(), c.go) << c.name;
        EXPECT_EQ(items.connectHotspot->isEnabled(), c.hotspot) << c.name;
        EXPECT_EQ(items.disconnect->isEnabled(), c.disconnect) << c.name;
    }
}

TEST(WirelessMenuTest, ItemsCallTheControllersOperations)
{
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" }, deviceList({}));
    PlacedAppState state(rig.services());
    MenuContent content(state);
    const WirelessItems items(*content.menu());
    state.place({ kUsb, kWifi });
    for (QAction* action : { items.goWireless, items.connectHotspot, items.disconnect }) {
        action->trigger();
        ASSERT_TRUE(waitUntilIdle(state));
        state.place({ kWifi });
    }
    std::vector<std::string> titles;
    for (const FriendlyError& error : rig.presenter->errors)
        titles.push_back(error.title);
    EXPECT_EQ(titles,
        (std::vector<std::string> { "Plug in your phone first.",
            "This computer isn’t connected to a Wi-Fi hotspot.",
            "Disconnected, but the phone couldn’t be reached." }));
}

const std::vector<std::string> kPhones {
    "U1 device usb:1-1 product:p model:Pixel_7 device:d transport_id:1"
};

TEST(WirelessMenuTest, ScreenshotOfTheOpenHotspotSubmenu)
{
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" }, deviceList(kPhones));
    PlacedAppState state(rig.services());
    state.place({ kUsb });
    MenuContent content(state);
    QMenu& menu = *content.menu();
    const WirelessItems items(menu);
    EXPECT_TRUE(items.goWireless->isEnabled());

    menu.popup(QPoint(0, 0));
    QAction* submenuItem = items.hotspot->menuAction();
    const QRect row = menu.actionGeometry(submenuItem);
    items.hotspot->popup(QPoint(menu.width(), row.top()));
    ASSERT_TRUE(waitFor([&] { return items.hotspot->isVisible(); }));
    menu.setActiveAction(submenuItem);
    QCoreApplication::processEvents();
    // Both menus side by side, as the user sees them.
    const QPixmap main = menu.grab(), side = items.hotspot->grab();
    QPixmap canvas(main.width() + side.width() - 2, std::max(main.height(), row.top() + side.height()));
    canvas.fill(Qt::white);
    QPainter(&canvas).drawPixmap(0, 0, main);
    QPainter(&canvas).drawPixmap(main.width() - 2, row.top(), side);
    QLabel picture;
    picture.setPixmap(canvas);
    picture.resize(canvas.size());
    EXPECT_FALSE(saveScreenshot(&picture, QStringLiteral("wireless-menu-hotspot-submenu")).isEmpty());
    EXPECT_FALSE(saveScreenshot(items.hotspot, QStringLiteral("wireless-hotspot-submenu")).isEmpty());
    items.hotspot->hide();
    menu.hide();
    EXPECT_TRUE(waitUntilIdle(state));
}

TEST(WirelessMenuTest, ScreenshotOfTheBusyLineWhileConnecting)
{
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" }, deviceList(kPhones));
    rig.adb.on({ "-s", "U1", "shell", "ip", "route" },
        { .out = "192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.40\n" });
    rig.adb.on({ "connect", "192.168.1.40:5555" }, { .out = "connected to 192.168.1.40:5555", .delay = 0.5 });
    auto state = rig.make();
    MenuContent content(*state);
    state->goWireless();
    ASSERT_TRUE(waitFor([&] { return state->busyMessage() == "Connecting to 192.168.1.40…"; }));
    EXPECT_TRUE(entries(*content.menu()).contains(QStringLiteral("⏳ Connecting to 192.168.1.40…")));
    const WirelessItems items(*content.menu());
    EXPECT_FALSE(items.goWireless->isEnabled() || items.connectHotspot->isEnabled());
    EXPECT_FALSE(saveScreenshot(content.menu(), QStringLiteral("wireless-menu-busy-connecting")).isEmpty());
    EXPECT_TRUE(waitUntilIdle(*state));
    EXPECT_EQ(rig.presenter->infos.size(), 1u);
}

TEST(WirelessMenuTest, ScreenshotsOfTheSuccessAlerts)
{
    ControllerRig rig;
    rig.network->routerIP = "192.168.43.1";
    rig.adb.on({ "devices", "-l" }, deviceList(kPhones));
    rig.adb.on({ "-s", "U1", "shell", "ip", "route" },
        { .out = "192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.40\n" });
    rig.adb.onPrefix({ "connect" }, { .out = "connected to the phone" });
    auto state = rig.make();
    state->goWireless();
    ASSERT_TRUE(waitUntilIdle(*state));
    state->connectHotspot();
    ASSERT_TRUE(waitUntilIdle(*state));
    ASSERT_EQ(rig.presenter->infos.size(), 2u);
    const char* names[] = { "wireless-success-go-wireless", "wireless-success-hotspot" };
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& info = rig.presenter->infos[i];
        auto alert = ErrorAlerts::buildInfoAlert(
            QString::fromStdString(info.title), QString::fromStdString(info.text));
        EXPECT_EQ(alert->icon(), QMessageBox::Information);
        EXPECT_EQ(alert->text().toStdString(), info.title);
        EXPECT_EQ(alert->informativeText().toStdString(), info.text);
        ASSERT_EQ(alert->buttons().size(), 1);
        EXPECT_EQ(alert->buttons()[0]->text(), QStringLiteral("OK"));
        EXPECT_FALSE(saveScreenshot(alert.get(), QString::fromLatin1(names[i])).isEmpty());
    }
}

} // namespace
} // namespace tessaly
