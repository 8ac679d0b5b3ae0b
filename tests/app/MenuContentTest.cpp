#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QWidgetAction>

#include <gtest/gtest.h>

#include "app/MenuContent.h"
#include "app/MenuWindow.h"
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

// The text as a menu or button draws it: a single "&" marks a mnemonic and is not drawn.
QString shown(QString text)
{
    return text.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove('&').replace('\x01', '&');
}

// The visible entries, dividers as "--", each after "x " when enabled or "o " when not.
QStringList walk(const QMenu& menu)
{
    QStringList lines;
    for (QAction* action : menu.actions())
        if (action->isVisible())
            lines << QString(action->isEnabled() ? "x " : "o ")
                    + (action->isSeparator() ? "--" : shown(action->text()));
    return lines;
}

// The same for the Tessaly window's lines and buttons (it has no dividers).
QStringList walk(const QWidget& window)
{
    QStringList lines;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget))
            text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = shown(button->text());
        else
            continue;
        if (widget->isVisibleTo(&window))
            lines << QString(widget->isEnabled() ? "x " : "o ") + text;
    }
    return lines;
}

const Device kUsb = usbPhone("U1", "Pixel_7");
const Device kWifi = wifiPhone("192.168.1.40:5555", "Pixel_7");

// The menu over a controller whose state each test places.
class MenuTest : public ::testing::Test {
protected:
    QAction* find(const char* text) const { return item(menu, QString::fromUtf8(text)); }

    ControllerRig rig;
    PlacedAppState state { rig.services() };
    MenuContent content { state };
    QMenu& menu = *content.menu();
    QMenu& hotspot = *find("Hotspot Mode (direct link)")->menu();
};

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
    EXPECT_FALSE(walk(menu).join('\n').contains(QStringLiteral("Quick Share:")));
    find("Receive with Quick Share")->trigger();
    EXPECT_TRUE(state.quickShareOn() && find("Receive with Quick Share")->isChecked());
    const QStringList all = walk(menu);
    EXPECT_EQ(all.mid(all.indexOf(QStringLiteral("o Disconnect Wireless")), 5),
        (QStringList { "o Disconnect Wireless", "x --", "x Receive with Quick Share",
            "x Quick Share: starting…", "x --" }));
    state.placeQuickShare(QuickShareReceiver::Status::on("Ana’s laptop"), true);
    EXPECT_TRUE(
        walk(menu).contains(QStringLiteral("x 📥 Phones on this Wi-Fi see this computer as “Ana’s laptop”")));
    saveScreenshot(&menu, QStringLiteral("menu-quick-share-on"));
}

TEST_F(MenuTest, RefreshRunsFromTheFirstOpeningToTheLastClosingWhoeverDrawsTheMenu)
{
    rig.adb.on({ "devices", "-l" }, deviceList({}));
    state.place({ kUsb });
    // Qt shows and hides its own menus; a panel that draws an exported menu only has the
    // signals emitted, and may report a submenu's closing after the main menu's, or never.
    const auto show
        = [](QMenu& m, bool drawnByQt) { drawnByQt ? m.popup(QPoint(0, 0)) : void(emit m.aboutToShow()); };
    const auto hide = [](QMenu& m, bool drawnByQt) { drawnByQt ? m.hide() : void(emit m.aboutToHide()); };
    for (const bool drawnByQt : { true, false }) {
        show(menu, drawnByQt);
        for (int again = 0; again < 2; ++again) {
            show(hotspot, drawnByQt);
            hide(hotspot, drawnByQt);
            EXPECT_TRUE(state.hasRefreshTimer()) << drawnByQt;
        }
        show(hotspot, drawnByQt);
        if (drawnByQt)
            saveScreenshot(&hotspot, QStringLiteral("wireless-hotspot-submenu"));
        hide(menu, drawnByQt);
        EXPECT_FALSE(state.hasRefreshTimer()) << drawnByQt;
        hide(hotspot, drawnByQt);
        EXPECT_TRUE(waitUntilIdle(state));
        // One opening: one refresh, however often the submenu came and went.
        EXPECT_EQ(rig.adb.calls().size(), 1u) << drawnByQt;
        rig.adb.clearCalls();
    }
}

// The entries of the menus that change between scenes, in order: the text, then per scene whether
// it is enabled (x), disabled (o) or not shown (.). Scenes: no tools; a phone on USB; busy with a
// phone on USB and on the hotspot, after an error; mirroring over Wi-Fi.
using MenuTable = std::vector<std::pair<QString, const char*>>;
const MenuTable kMainMenu = {
    { "adb and scrcpy not found", "x..." },
    { "Connected via USB (Pixel_7)", ".x.." },
    { "Connected via USB + Hotspot (Pixel_7)", "..x." },
    { "Connected via Wi-Fi (Pixel_7)", "...x" },
    { "Mirroring: Low latency (Wi-Fi) · 58 fps", "...x" },
    { "🌙 Pocket mode: the phone’s screen is off. Don’t press its power button.\n"
      "     Stopping the mirror locks the phone.",
        "...x" },
    { "⚠️ Wireless debugging is ON – only use on your home Wi-Fi", "..xx" },
    { "📶 This computer is using your phone’s data while on hotspot", "..x." },
    { "Connection: checking…", "...x" },
    { "⏳ Connecting to 192.168.43.1…", "..x." },
    { "Mirror Phone", "oxo." },
    { "Mirroring…", "...o" },
    { "Stop Mirroring", "ooox" },
    { "Save Screenshot", "oxox" },
    { "Phone Files (drag & drop)…", "oxxx" },
    { "Go Wireless (home Wi-Fi)", "oxoo" },
    { "Pair over Wi-Fi (QR code)…", "oxox" },
    { "Disconnect Wireless", "ooox" },
    { "Show details of last error…", "..x." },
};
const MenuTable kHotspotMenu = {
    { "Connect via Hotspot", "xxox" },
};

// The walked lines of the entries `table` lists.
QStringList listed(const QStringList& lines, const MenuTable& table)
{
    QStringList kept;
    for (const QString& line : lines)
        if (std::any_of(
                table.begin(), table.end(), [&](const auto& row) { return line.mid(2) == row.first; }))
            kept << line;
    return kept;
}

QStringList expected(const MenuTable& table, int scene)
{
    QStringList lines;
    for (const auto& [text, flags] : table)
        if (flags[scene] != '.')
            lines << QString(QLatin1Char(flags[scene])) + QLatin1Char(' ') + text;
    return lines;
}

TEST(MenuContentTest, WalkInTheMainStatesMatchesTheMenuTable)
{
    for (int scene = 0; scene < 4; ++scene) {
        ControllerRig rig;
        rig.withAdb = rig.withScrcpy = scene != 0;
        PlacedAppState state(rig.services());
        if (scene == 1)
            state.place({ kUsb });
        if (scene == 2) {
            state.placeReportedSerial("192.168.43.1:5555", "U1");
            state.place({ kUsb, wifiPhone("192.168.43.1:5555", "Pixel_7") }, "192.168.43.1");
            state.showError({ "Phone not found.", "Plug it in.", "" });
            state.placeBusy("Connecting to 192.168.43.1…");
        }
        if (scene == 3) {
            state.place({ kWifi });
            state.placeMirroring("Low latency (Wi-Fi)", FPSReading { 58, 0 });
            state.placePocketMode(true);
            state.placeQuality(std::nullopt, true);
        }
        MenuContent content(state);
        EXPECT_EQ(listed(walk(*content.menu()), kMainMenu), expected(kMainMenu, scene)) << "scene " << scene;
        MenuWindow window(content);
        EXPECT_EQ(listed(walk(window), kMainMenu), expected(kMainMenu, scene)) << "scene " << scene;
        if (scene == 3)
            saveScreenshot(&window, QStringLiteral("window-mirroring"));
        const char* names[] = { "menu-no-tools", "menu-usb", "menu-busy-on-hotspot", "menu-mirroring" };
        saveScreenshot(content.menu(), QString::fromLatin1(names[scene]));
        EXPECT_EQ(listed(walk(*item(*content.menu(), QStringLiteral("Hotspot Mode (direct link)"))->menu()),
                      kHotspotMenu),
            expected(kHotspotMenu, scene))
            << "scene " << scene;
    }
}

TEST_F(MenuTest, WindowButtonsDriveTheControllerAndItsShowingCountsAsAnOpenMenu)
{
    rig.adb.on({ "devices", "-l" }, deviceList({}));
    MenuWindow window(content);
    const auto button = [&](const char* text) {
        for (auto* candidate : window.findChildren<QAbstractButton*>())
            if (shown(candidate->text()) == QString::fromUtf8(text))
                return candidate;
        return static_cast<QAbstractButton*>(nullptr);
    };
    button("Audio")->click();
    EXPECT_TRUE(state.audio() && button("Audio")->isChecked());
    button("Smooth (Wi-Fi)")->click();
    EXPECT_EQ(state.preset(), QualityPreset::smooth);
    EXPECT_FALSE(button("Audio")->isChecked()); // the Wi-Fi preset switched audio off
    int checked = 0;
    for (const QualityPreset preset : allQualityPresets)
        checked += button(std::string(title(preset)).c_str())->isChecked();
    EXPECT_EQ(checked, 1);
    button("Smooth (Wi-Fi)")->click(); // chosen again: stays the one chosen
    EXPECT_TRUE(button("Smooth (Wi-Fi)")->isChecked());
    rig.loginItem->failure = "read-only file system";
    button("Launch at login")->click();
    EXPECT_FALSE(button("Launch at login")->isChecked()) << "turned down, yet shown as on";
    bool quit = false;
    QObject::connect(&content, &MenuContent::quitRequested, [&] { quit = true; });
    button("Quit Tessaly")->click();
    EXPECT_TRUE(quit);

    window.show();
    EXPECT_TRUE(state.hasRefreshTimer());
    menu.popup(QPoint(0, 0));
    menu.hide();
    EXPECT_TRUE(state.hasRefreshTimer()) << "the menu's closing ended the window's refresh";
    window.close();
    EXPECT_FALSE(state.hasRefreshTimer());
    EXPECT_TRUE(waitUntilIdle(state));
}

// The leftmost and topmost pixels of an entry that are darker than the menu's background.
QPoint inkStart(QMenu& menu, QAction* entry)
{
    const QImage image = menu.grab().toImage();
    const QRect band = menu.actionGeometry(entry).adjusted(1, 1, -1, 0); // inside the border
    QPoint start = band.bottomRight();
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = band.left(); x <= band.right(); ++x)
            if (qGray(image.pixel(x, y)) < qGray(image.pixel(band.left() + 1, band.center().y())) - 60)
                start = QPoint(std::min(start.x(), x), std::min(start.y(), y));
    return start;
}

TEST_F(MenuTest, TextLinesStartWhereItemTitlesDoAndClearOfTheTopBorder)
{
    state.place({ kUsb });
    for (QMenu* shown : { &menu, &hotspot })
        shown->popup(QPoint(0, 0));
    const int titles = inkStart(menu, find("Getting Started…")).x();
    EXPECT_NEAR(inkStart(menu, menu.actions().first()).x(), titles, 2);
    EXPECT_NEAR(inkStart(hotspot, hotspot.actions().first()).x(), titles, 2);
    EXPECT_GE(inkStart(menu, menu.actions().first()).y(), 6);
    menu.hide();
    hotspot.hide();
    EXPECT_TRUE(waitUntilIdle(state));
}

// One phone, two, the chosen one gone, and one phone on two links: the submenu shows only
// for two phones, with a check mark on the one the menu acts on.
TEST_F(MenuTest, PhoneSubmenuInItsFourScenes)
{
    const Device galaxy = wifiPhone("192.168.1.41:5555", "Galaxy_S21");
    state.placeReportedSerial(galaxy.serial, "R5");
    state.placeReportedSerial(kWifi.serial, "U1");
    QAction* phoneItem = find("Phone");
    QMenu& phones = *phoneItem->menu();
    const auto checked = [&] {
        QStringList lines;
        for (QAction* action : phones.actions())
            lines << QString(action->isChecked() ? "✓ " : "  ") + action->text();
        return lines;
    };

    state.place({ kUsb });
    EXPECT_FALSE(phoneItem->isVisible());

    state.place({ galaxy, kUsb });
    ASSERT_TRUE(phoneItem->isVisible());
    EXPECT_EQ(checked(), (QStringList { "  Galaxy S21 (Wi-Fi)", "✓ Pixel 7 (USB)" }));
    phones.actions()[0]->trigger();
    EXPECT_EQ(checked(), (QStringList { "✓ Galaxy S21 (Wi-Fi)", "  Pixel 7 (USB)" }));
    EXPECT_EQ(shown(menu.actions()[0]->text()), QStringLiteral("Connected via Wi-Fi (Galaxy_S21)"));
    EXPECT_FALSE(saveScreenshot(&phones, QStringLiteral("menu-phone-submenu")).isEmpty());
    EXPECT_FALSE(saveScreenshot(&menu, QStringLiteral("menu-two-phones")).isEmpty());

    state.place({ kUsb });
    EXPECT_FALSE(phoneItem->isVisible());
    EXPECT_EQ(shown(menu.actions()[0]->text()),
        QStringLiteral("Connected via USB (Pixel_7)\nGalaxy S21 isn’t connected, so Tessaly uses this one."));
    EXPECT_FALSE(saveScreenshot(&menu, QStringLiteral("menu-chosen-phone-gone")).isEmpty());

    state.place({ kWifi, kUsb });
    EXPECT_FALSE(phoneItem->isVisible());
    EXPECT_EQ(shown(menu.actions()[0]->text()),
        QStringLiteral(
            "Connected via USB + Wi-Fi (Pixel_7)\nGalaxy S21 isn’t connected, so Tessaly uses this one."));
    EXPECT_EQ(find("Save Screenshot")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    find("Save Screenshot")->trigger();
    EXPECT_TRUE(waitUntilIdle(state));
    ASSERT_FALSE(rig.presenter->errors.empty());
    EXPECT_EQ(rig.presenter->errors.back().title, "Phone not found.");
}

TEST_F(MenuTest, QualityLinesReplaceTheCheckingLine)
{
    ConnectionQuality quality;
    quality.link = ConnectionQuality::Link::router;
    quality.phoneBand = WiFiBand::ghz2_4;
    quality.macBand = WiFiBand::ghz5;
    quality.ping = PingResult { { 18.2, 21.0, 16.4, 19.9, 24.3, 17.8 }, 9 };
    state.place({ kWifi });
    state.placeQuality(quality, false);
    EXPECT_TRUE(
        walk(menu).contains(QStringLiteral("x Connection: Poor · ping 20 ms · jitter 4 ms · 14% lost\n"
                                           "Wi-Fi: phone 2.4 GHz · computer 5 GHz (via router)\n"
                                           "💡 Switch to 5 GHz or use Hotspot mode")));
    EXPECT_FALSE(walk(menu).join('\n').contains(QStringLiteral("Connection: checking…")));
    state.placeQuality(std::nullopt, true);
    EXPECT_TRUE(walk(menu).contains(QStringLiteral("x Connection: checking…")));
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

} // namespace
} // namespace tessaly
