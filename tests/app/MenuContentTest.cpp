#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QWidgetAction>

#include <gtest/gtest.h>

#include "app/ErrorAlerts.h"
#include "app/MenuContent.h"
#include "app/TrayIcon.h"
#include "support/ControllerFakes.h"
#include "support/Screenshots.h"

namespace tessaly {
namespace {

using namespace test;

QAction* item(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

// The visible entries as a reader sees them, dividers as "--".
QStringList entries(const QMenu& menu)
{
    QStringList texts;
    for (QAction* action : menu.actions())
        if (action->isVisible())
            texts << (action->isSeparator() ? QStringLiteral("--") : action->text());
    return texts;
}

const Device kUsb = usbPhone("U1", "Pixel_7");
const Device kWifi = wifiPhone("192.168.1.40:5555", "Pixel_7");

// The menu over a controller whose state each test places.
class MenuTest : public ::testing::Test {
protected:
    QAction* find(const char* text) const { return item(menu, QString::fromUtf8(text)); }
    QStringList texts() const { return entries(menu); }

    ControllerRig rig;
    PlacedAppState state { rig.services() };
    MenuContent content { state };
    QMenu& menu = *content.menu();
    QMenu& hotspot = *find("Hotspot Mode (direct link)")->menu();
};

TEST_F(MenuTest, FollowsTheControllersErrorAndBusyLine)
{
    EXPECT_FALSE(texts().contains(QStringLiteral("Show details of last error…")));
    state.showError({ "Phone not found.", "Plug it in.", "" });
    EXPECT_TRUE(texts().contains(QStringLiteral("Show details of last error…")));
    state.placeBusy("Looking for your phone…");
    EXPECT_TRUE(texts().contains(QStringLiteral("⏳ Looking for your phone…")));
    state.placeBusy(std::nullopt);
    EXPECT_FALSE(texts().join('\n').contains(QStringLiteral("⏳")));
}

TEST(MenuContentTest, StatusLinesMirrorItemAndScreenshots)
{
    const struct {
        bool tools;
        std::vector<Device> devices;
        std::optional<std::string> router, busy;
        QString name;
        QStringList lines; // the first line, then lines anywhere in the menu
    } cases[] = {
        { false, {}, {}, {}, QStringLiteral("menu-no-tools"), { QStringLiteral("adb or scrcpy not found") } },
        { true, { usbPhone("R58N1", {}, "unauthorized") }, {}, {}, QStringLiteral("menu-unauthorized"),
            { QStringLiteral("Tap “Allow” on your phone") } },
        { true, { usbPhone("R58N1", "Pixel_7"), wifiPhone("192.168.43.1:5555", "Pixel_7") }, "192.168.43.1",
            {}, QStringLiteral("menu-usb-and-hotspot"),
            { QStringLiteral("Connected via USB + Hotspot (Pixel_7)"),
                QStringLiteral("⚠️ Wireless debugging is ON – only use on your home Wi-Fi"),
                QStringLiteral("📶 This computer is using your phone’s data while on hotspot") } },
        { true, { usbPhone("R58N1", "Pixel_7") }, {}, "Looking for your phone…", QStringLiteral("menu-busy"),
            { QStringLiteral("Connected via USB (Pixel_7)"), QStringLiteral("⏳ Looking for your phone…") } },
    };
    for (const auto& c : cases) {
        ControllerRig rig;
        rig.withAdb = c.tools;
        PlacedAppState state(rig.services());
        state.place(c.devices, c.router);
        state.placeBusy(c.busy);
        MenuContent content(state);
        const QStringList texts = entries(*content.menu());
        EXPECT_EQ(texts.first(), c.lines.first());
        for (const QString& line : c.lines)
            EXPECT_TRUE(texts.contains(line)) << line.toStdString();
        EXPECT_EQ(item(*content.menu(), QStringLiteral("Mirror Phone"))->isEnabled(), c.tools && !c.busy);
        EXPECT_TRUE(texts.contains(QStringLiteral("Getting Started…")));
        EXPECT_FALSE(saveScreenshot(content.menu(), c.name).isEmpty());
    }
}

TEST_F(MenuTest, ALineThatGoesAwayWhileTheMenuIsOpenLeavesNothingDrawn)
{
    state.placeQuality(std::nullopt, true);
    menu.popup(QPoint(0, 0));
    QCoreApplication::processEvents();
    ConnectionQuality cable;
    state.placeQuality(cable, false);
    QCoreApplication::processEvents();
    for (QAction* action : menu.actions()) {
        if (auto* line = qobject_cast<QWidgetAction*>(action)) {
            EXPECT_EQ(line->defaultWidget()->isVisible(), action->isVisible())
                << action->text().toStdString();
        }
    }
    menu.hide();
    EXPECT_TRUE(waitUntilIdle(state));
}

TEST_F(MenuTest, TogglesAndPresetsWriteThroughTheController)
{
    find("Audio")->trigger();
    EXPECT_TRUE(state.audio() && find("Audio")->isChecked());
    find("Smooth (Wi-Fi)")->trigger();
    EXPECT_EQ(state.preset(), QualityPreset::smooth);
    EXPECT_FALSE(find("Audio")->isChecked()); // the Wi-Fi preset switched audio off
    EXPECT_FALSE(find("Auto (best for your connection)")->isChecked());
    rig.loginItem->failure = "read-only file system";
    find("Launch at login")->trigger();
    EXPECT_FALSE(find("Launch at login")->isChecked()); // follows the real state after the failure
    EXPECT_EQ(rig.presenter->errors.size(), 1u);
    EXPECT_EQ(find("Quit Tessaly")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST_F(MenuTest, QuickShareToggleWritesTheSettingAndItsLineSitsUnderIt)
{
    EXPECT_FALSE(texts().join('\n').contains(QStringLiteral("Quick Share:")));
    find("Receive with Quick Share")->trigger();
    EXPECT_TRUE(state.quickShareOn() && find("Receive with Quick Share")->isChecked());
    const QStringList all = texts();
    EXPECT_EQ(all.mid(all.indexOf(QStringLiteral("Disconnect Wireless")), 5),
        (QStringList {
            "Disconnect Wireless", "--", "Receive with Quick Share", "Quick Share: starting…", "--" }));
    state.placeQuickShare(QuickShareReceiver::Status::on("Ana’s laptop"), true);
    EXPECT_TRUE(
        texts().contains(QStringLiteral("📥 Phones on this Wi-Fi see this computer as “Ana’s laptop”")));
    EXPECT_FALSE(saveScreenshot(&menu, QStringLiteral("menu-quick-share-on")).isEmpty());
}

TEST_F(MenuTest, RefreshTimerLivesOnlyWhileAMenuIsOpen)
{
    rig.adb.on({ "devices", "-l" }, deviceList({}));
    EXPECT_FALSE(state.hasRefreshTimer());
    for (QMenu* open : { &menu, &hotspot }) {
        emit open->aboutToShow();
        EXPECT_TRUE(state.hasRefreshTimer());
        emit open->aboutToHide(); // the whole menu is closed
        EXPECT_FALSE(state.hasRefreshTimer());
    }
    menu.popup(QPoint(0, 0)); // back from the submenu to the main menu: still refreshing
    emit hotspot.aboutToShow();
    emit hotspot.aboutToHide();
    EXPECT_TRUE(state.hasRefreshTimer());
    menu.hide();
    EXPECT_FALSE(state.hasRefreshTimer());
    EXPECT_TRUE(waitUntilIdle(state));
}

TEST_F(MenuTest, MirrorItemsFollowBusyAndSession)
{
    QAction* mirror = find("Mirror Phone");
    QAction* stop = find("Stop Mirroring");
    EXPECT_EQ(mirror->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
    EXPECT_TRUE(mirror->isEnabled() && !stop->isEnabled());
    state.placeBusy("Looking for your phone…");
    EXPECT_FALSE(mirror->isEnabled() || stop->isEnabled());
    state.placeBusy(std::nullopt);
    state.placeMirroring("Best (USB)", std::nullopt);
    EXPECT_EQ(mirror->text(), QStringLiteral("Mirroring…"));
    EXPECT_TRUE(!mirror->isEnabled() && stop->isEnabled());
    find("Show scrcpy output…")->trigger();
    EXPECT_EQ(rig.presenter->details, std::vector<std::string> { "" });
}

TEST_F(MenuTest, SessionAndQualityLinesAndTrayIcon)
{
    ConnectionQuality quality;
    quality.link = ConnectionQuality::Link::router;
    quality.phoneBand = WiFiBand::ghz2_4;
    quality.macBand = WiFiBand::ghz5;
    quality.ping = PingResult { { 18.2, 21.0, 16.4, 19.9, 24.3, 17.8 }, 9 };
    state.place({ kWifi });
    state.placeMirroring("Auto → Low latency (Wi-Fi)", FPSReading { 57, 4 });
    state.placePocketMode(true);
    state.placeQuality(quality, false);
    for (const QString& line :
        { QStringLiteral("Mirroring: Auto → Low latency (Wi-Fi) · 57 fps (+4 skipped)"),
            QStringLiteral("🌙 Pocket mode: the phone’s screen is off. Don’t press its power button.\n"
                           "     Stopping the mirror locks the phone."),
            QStringLiteral("Connection: Poor · ping 20 ms · jitter 4 ms · 14% lost\n"
                           "Wi-Fi: phone 2.4 GHz · computer 5 GHz (via router)\n"
                           "💡 Switch to 5 GHz or use Hotspot mode") })
        EXPECT_TRUE(texts().contains(line)) << line.toStdString();
    EXPECT_FALSE(texts().contains(QStringLiteral("Connection: checking…")));
    saveScreenshot(&menu, QStringLiteral("menu-mirroring"));
    state.placeQuality(std::nullopt, true);
    EXPECT_TRUE(texts().contains(QStringLiteral("Connection: checking…")));
    saveScreenshot(&menu, QStringLiteral("menu-checking-connection"));

    const QImage plain = TrayIcon::pixmap(false, std::nullopt, 64).toImage();
    const QImage waves = TrayIcon::pixmap(true, std::nullopt, 64).toImage();
    const QImage number = TrayIcon::pixmap(true, 58, 64).toImage();
    EXPECT_TRUE(plain != waves && waves != number);
    // The number shows only while mirroring with "Show FPS" on and a reading at hand.
    const FPSReading reading { 58, 3 };
    EXPECT_EQ(TrayIcon::shownNumber(true, true, reading), 58);
    EXPECT_EQ(TrayIcon::shownNumber(false, true, reading), std::nullopt);
    EXPECT_EQ(TrayIcon::shownNumber(true, false, reading), std::nullopt);
    EXPECT_EQ(TrayIcon::shownNumber(true, true, std::nullopt), std::nullopt);
    plain.save(screenshotFolder() + QStringLiteral("/tray-icon.png"));
    waves.save(screenshotFolder() + QStringLiteral("/tray-icon-mirroring.png"));
    number.save(screenshotFolder() + QStringLiteral("/tray-icon-fps.png"));
}

TEST_F(MenuTest, WirelessItemsSitBetweenDividersAndTheHotspotSubmenuConnects)
{
    const QStringList all = texts();
    EXPECT_EQ(all.mid(all.indexOf(QStringLiteral("Go Wireless (home Wi-Fi)")) - 1, 5),
        (QStringList {
            "--", "Go Wireless (home Wi-Fi)", "Hotspot Mode (direct link)", "Disconnect Wireless", "--" }));
    EXPECT_EQ(entries(hotspot).mid(5, 3), (QStringList { "--", "Connect via Hotspot", "--" }));
}

TEST_F(MenuTest, WirelessItemsAreEnabledByThePhonesAndDisabledWhileBusy)
{
    const struct {
        std::vector<Device> devices;
        bool busy, go, hotspot, disconnect;
    } cases[] = {
        { {}, false, false, true, false },
        { { kUsb }, false, true, true, false },
        { { usbPhone("U1", "Pixel_7", "unauthorized") }, false, false, true, false },
        { { wifiPhone("192.168.1.40:5555", "Pixel_7", "offline") }, false, false, true, true },
        { { kUsb, kWifi }, true, false, false, false },
    };
    for (const auto& c : cases) {
        state.place(c.devices);
        state.placeBusy(c.busy ? std::optional<std::string>("Connecting to 192.168.1.40…") : std::nullopt);
        EXPECT_EQ(find("Go Wireless (home Wi-Fi)")->isEnabled(), c.go) << c.devices.size();
        EXPECT_EQ(item(hotspot, QStringLiteral("Connect via Hotspot"))->isEnabled(), c.hotspot)
            << c.devices.size();
        EXPECT_EQ(find("Disconnect Wireless")->isEnabled(), c.disconnect) << c.devices.size();
    }
}

TEST_F(MenuTest, WirelessItemsCallTheControllersOperations)
{
    rig.adb.on({ "devices", "-l" }, deviceList({}));
    state.place({ kUsb, kWifi });
    for (QAction* action : { find("Go Wireless (home Wi-Fi)"),
             item(hotspot, QStringLiteral("Connect via Hotspot")), find("Disconnect Wireless") }) {
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

// adb for a cable phone that is on the home Wi-Fi at 192.168.1.40.
void answerAsHomePhone(StandInTool& adb, double connectDelay = 0)
{
    adb.on({ "devices", "-l" },
        deviceList({ "U1 device usb:1-1 product:p model:Pixel_7 device:d transport_id:1" }));
    adb.on({ "-s", "U1", "shell", "ip", "route" },
        { .out = "192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.40\n" });
    adb.onPrefix({ "connect" }, { .out = "connected to the phone", .delay = connectDelay });
}

TEST_F(MenuTest, ScreenshotOfTheOpenHotspotSubmenu)
{
    answerAsHomePhone(rig.adb);
    state.place({ kUsb });
    menu.popup(QPoint(0, 0));
    const QRect row = menu.actionGeometry(hotspot.menuAction());
    hotspot.popup(QPoint(menu.width(), row.top()));
    ASSERT_TRUE(waitFor([&] { return hotspot.isVisible(); }));
    menu.setActiveAction(hotspot.menuAction());
    QCoreApplication::processEvents();
    const QPixmap main = menu.grab(), side = hotspot.grab(); // side by side, as the user sees them
    QPixmap canvas(main.width() + side.width() - 2, std::max(main.height(), row.top() + side.height()));
    canvas.fill(Qt::white);
    QPainter(&canvas).drawPixmap(0, 0, main);
    QPainter(&canvas).drawPixmap(main.width() - 2, row.top(), side);
    // Saved as is: a window showing it would be clipped to the offscreen screen.
    EXPECT_TRUE(canvas.save(screenshotFolder() + QStringLiteral("/wireless-menu-hotspot-submenu.png")));
    EXPECT_FALSE(saveScreenshot(&hotspot, QStringLiteral("wireless-hotspot-submenu")).isEmpty());
    menu.hide();
    EXPECT_TRUE(waitUntilIdle(state));
}

TEST_F(MenuTest, ScreenshotsOfTheBusyLineAndTheSuccessAlerts)
{
    rig.network->routerIP = "192.168.43.1";
    answerAsHomePhone(rig.adb, 0.5);
    state.goWireless();
    ASSERT_TRUE(waitFor([&] { return state.busyMessage() == "Connecting to 192.168.1.40…"; }));
    EXPECT_TRUE(texts().contains(QStringLiteral("⏳ Connecting to 192.168.1.40…")));
    EXPECT_FALSE(find("Go Wireless (home Wi-Fi)")->isEnabled());
    EXPECT_FALSE(saveScreenshot(&menu, QStringLiteral("wireless-menu-busy-connecting")).isEmpty());
    ASSERT_TRUE(waitUntilIdle(state));
    state.connectHotspot();
    ASSERT_TRUE(waitUntilIdle(state));
    ASSERT_EQ(rig.presenter->infos.size(), 2u);
    const char* names[] = { "wireless-success-go-wireless", "wireless-success-hotspot" };
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& info = rig.presenter->infos[i];
        auto alert = ErrorAlerts::buildInfoAlert(
            QString::fromStdString(info.title), QString::fromStdString(info.text));
        EXPECT_EQ(alert->informativeText().toStdString(), info.text);
        EXPECT_FALSE(saveScreenshot(alert.get(), QString::fromLatin1(names[i])).isEmpty());
    }
}

} // namespace
} // namespace tessaly
