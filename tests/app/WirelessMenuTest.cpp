#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>

#include <gtest/gtest.h>

#include "app/ErrorAlerts.h"
#include "app/MenuContent.h"
#include "support/ControllerFakes.h"
#include "support/Screenshots.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::deviceList;
using test::PlacedAppState;
using C = Device::Connection;

Device phone(std::string serial, std::string state, C connection)
{
    return Device { std::move(serial), std::move(state), "Pixel_7", connection };
}

QAction* item(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

// The menu's entries as a reader sees them, dividers as "--".
QStringList entries(const QMenu& menu)
{
    QStringList texts;
    for (QAction* action : menu.actions())
        if (action->isVisible())
            texts << (action->isSeparator() ? QStringLiteral("--") : action->text());
    return texts;
}

struct WirelessItems {
    QAction* goWireless;
    QMenu* hotspot;
    QAction* connectHotspot;
    QAction* disconnect;
};

WirelessItems wirelessItems(const QMenu& menu)
{
    QAction* submenu = item(menu, QStringLiteral("Hotspot Mode (direct link)"));
    QMenu* hotspot = submenu ? submenu->menu() : nullptr;
    return { item(menu, QStringLiteral("Go Wireless (home Wi-Fi)")), hotspot,
        hotspot ? item(*hotspot, QStringLiteral("Connect via Hotspot")) : nullptr,
        item(menu, QStringLiteral("Disconnect Wireless")) };
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

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

    const WirelessItems items = wirelessItems(*content.menu());
    ASSERT_TRUE(items.hotspot);
    EXPECT_EQ(entries(*items.hotspot),
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
    struct Case {
        const char* name;
        std::vector<Device> devices;
        bool busy;
        bool go, hotspot, disconnect;
    };
    const std::vector<Case> cases {
        { "no phone", {}, false, false, true, false },
        { "cable phone", { phone("U1", "device", C::usb) }, false, true, true, false },
        { "cable phone not allowed", { phone("U1", "unauthorized", C::usb) }, false, false, true, false },
        { "wireless phone offline", { phone("192.168.1.40:5555", "offline", C::wifi) }, false, false, true,
            true },
        { "both, busy", { phone("U1", "device", C::usb), phone("192.168.1.40:5555", "device", C::wifi) },
            true, false, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ControllerRig rig;
        PlacedAppState state(rig.services());
        MenuContent content(state);
        state.place(c.devices);
        state.placeBusy(c.busy ? std::optional<std::string>("Connecting to 192.168.1.40…") : std::nullopt);
        const WirelessItems items = wirelessItems(*content.menu());
        ASSERT_TRUE(items.goWireless && items.connectHotspot && items.disconnect);
        EXPECT_EQ(items.goWireless->isEnabled(), c.go);
        EXPECT_EQ(items.connectHotspot->isEnabled(), c.hotspot);
        EXPECT_EQ(items.disconnect->isEnabled(), c.disconnect);
    }
}

TEST(WirelessMenuTest, ItemsCallTheControllersOperations)
{
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" }, deviceList({}));
    PlacedAppState state(rig.services());
    MenuContent content(state);
    const WirelessItems items = wirelessItems(*content.menu());

    state.place({ phone("U1", "device", C::usb), phone("192.168.1.40:5555", "device", C::wifi) });
    items.goWireless->trigger();
    ASSERT_TRUE(test::waitUntilIdle(state));
    items.connectHotspot->trigger();
    ASSERT_TRUE(test::waitUntilIdle(state));
    state.place({ phone("192.168.1.40:5555", "device", C::wifi) });
    items.disconnect->trigger();
    ASSERT_TRUE(test::waitUntilIdle(state));

    std::vector<std::string> titles;
    for (const FriendlyError& error : rig.presenter->errors)
        titles.push_back(error.title);
    EXPECT_EQ(titles,
        (std::vector<std::string> { "Plug in your phone first.",
            "This computer isn’t connected to a Wi-Fi hotspot.",
            "Disconnected, but the phone couldn’t be reached." }));
}

TEST(WirelessMenuTest, TheSubmenuKeepsTheListFreshWhileAnyMenuIsOpen)
{
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" }, deviceList({}));
    PlacedAppState state(rig.services());
    MenuContent content(state);
    QMenu* hotspot = wirelessItems(*content.menu()).hotspot;
    ASSERT_TRUE(hotspot);

    emit hotspot->aboutToShow();
    EXPECT_TRUE(state.hasRefreshTimer());
    emit hotspot->aboutToHide(); // the whole menu is closed
    EXPECT_FALSE(state.hasRefreshTimer());

    // Back from the submenu to the main menu: the list keeps refreshing.
    content.menu()->popup(QPoint(0, 0));
    ASSERT_TRUE(content.menu()->isVisible());
    emit hotspot->aboutToShow();
    emit hotspot->aboutToHide();
    EXPECT_TRUE(state.hasRefreshTimer());
    content.menu()->hide();
    EXPECT_FALSE(state.hasRefreshTimer());
    EXPECT_TRUE(test::waitUntilIdle(state));
}

// Screenshots ----------------------------------------------------------------------------

const std::vector<std::string> kPhones {
    "U1 device usb:1-1 product:p model:Pixel_7 device:d transport_id:1"
};

TEST(WirelessMenuTest, ScreenshotOfTheOpenHotspotSubmenu)
{
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" }, deviceList(kPhones));
    PlacedAppState state(rig.services());
    state.place({ phone("U1", "device", C::usb) });
    MenuContent content(state);
    QMenu& menu = *content.menu();
    const WirelessItems items = wirelessItems(menu);
    ASSERT_TRUE(items.hotspot);

    menu.popup(QPoint(0, 0));
    QAction* submenuItem = item(menu, QStringLiteral("Hotspot Mode (direct link)"));
    const QRect row = menu.actionGeometry(submenuItem);
    items.hotspot->popup(QPoint(menu.width(), row.top()));
    ASSERT_TRUE(waitFor([&] { return items.hotspot->isVisible(); }));
    menu.setActiveAction(submenuItem);
    QCoreApplication::processEvents();

    const QPixmap main = menu.grab();
    const QPixmap side = items.hotspot->grab();
    QPixmap canvas(main.width() + side.width() - 2, std::max(main.height(), row.top() + side.height()));
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        painter.drawPixmap(0, 0, main);
        painter.drawPixmap(main.width() - 2, row.top(), side);
    }
    QLabel picture;
    picture.setPixmap(canvas);
    picture.resize(canvas.size());
    EXPECT_FALSE(test::saveScreenshot(&picture, QStringLiteral("wireless-menu-hotspot-submenu")).isEmpty());
    EXPECT_FALSE(test::saveScreenshot(items.hotspot, QStringLiteral("wireless-hotspot-submenu")).isEmpty());
    EXPECT_TRUE(items.goWireless->isEnabled());
    items.hotspot->hide();
    menu.hide();
    EXPECT_TRUE(test::waitUntilIdle(state));
}

TEST(WirelessMenuTest, ScreenshotOfTheBusyLineWhileConnecting)
{
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" }, deviceList(kPhones));
    rig.adb.on({ "-s", "U1", "shell", "ip", "route" },
        { .out = "192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.40\n" });
    rig.adb.on({ "connect", "192.168.1.40:5555" }, { .out = "connected to 192.168.1.40:5555", .delay = 1.5 });
    auto state = rig.make();
    MenuContent content(*state);
    state->goWireless();
    ASSERT_TRUE(waitFor([&] { return state->busyMessage() == "Connecting to 192.168.1.40…"; }));

    const QStringList texts = entries(*content.menu());
    EXPECT_TRUE(texts.contains(QStringLiteral("⏳ Connecting to 192.168.1.40…")));
    const WirelessItems items = wirelessItems(*content.menu());
    EXPECT_FALSE(items.goWireless->isEnabled());
    EXPECT_FALSE(items.connectHotspot->isEnabled());
    EXPECT_FALSE(
        test::saveScreenshot(content.menu(), QStringLiteral("wireless-menu-busy-connecting")).isEmpty());
    EXPECT_TRUE(test::waitUntilIdle(*state));
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
    ASSERT_TRUE(test::waitUntilIdle(*state));
    state->connectHotspot();
    ASSERT_TRUE(test::waitUntilIdle(*state));
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
        EXPECT_FALSE(test::saveScreenshot(alert.get(), QString::fromLatin1(names[i])).isEmpty());
    }
}

} // namespace
} // namespace tessaly
