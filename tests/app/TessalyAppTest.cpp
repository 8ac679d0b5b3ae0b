#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QMenu>
#include <QPainter>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/MenuContent.h"
#include "app/MenuPlacement.h"
#include "app/MenuWindow.h"
#include "app/SingleInstance.h"
#include "app/TessalyApp.h"
#include "app/TrayIcon.h"
#include "support/ControllerFakes.h"
#include "support/PrivateBus.h"
#include "support/Screenshots.h"
#include "tools/ProcessRunner.h"

namespace tessaly {
namespace {

using namespace test;

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The other half of the quit test, run in a process of its own: the application as main()
// builds it, over an adb that never answers "devices -l", quit from the menu 0.3 s after start.
TEST(TessalyAppTest, QuitChild)
{
    if (qEnvironmentVariableIsEmpty("TESSALY_QUIT_CHILD"))
        GTEST_SKIP() << "run by QuitEndsToolRunsUnderWay";
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" }, { .delay = 30 });
    rig.defaults->writeBool(AppState::kAutoDisableWirelessOnQuit, false);
    AppState state(rig.services());
    TessalyApp app(state);
    QTimer::singleShot(300, [&] {
        for (QAction* item : app.menu().menu()->actions())
            if (item->text() == QStringLiteral("Quit Tessaly")) {
                std::printf("quit at %.3f\n", steadySeconds());
                std::fflush(stdout);
                item->trigger();
            }
    });
    QCoreApplication::exec();
}

// Panels on edges of a 1280 × 800 screen, a menu of 440 × 560, and a click on the icon.
TEST(TessalyAppTest, TheMenuOpensBesideThePanelNeverOverIt)
{
    const std::tuple<std::optional<QRect>, QPoint, QPoint> cases[] = {
        { QRect(0, 0, 1280, 26), { 1155, 13 }, { 840, 26 } }, // top: below it, kept on the screen
        { QRect(0, 774, 1280, 26), { 100, 787 }, { 100, 214 } }, // bottom: above it
        { QRect(0, 0, 40, 800), { 20, 700 }, { 40, 240 } }, // left: beside it
        { QRect(1240, 0, 40, 800), { 1260, 10 }, { 800, 10 } }, // right
        { std::nullopt, { 500, 300 }, { 500, 300 } }, // nothing known: at the cursor
    };
    for (const auto& [panel, cursor, expected] : cases)
        EXPECT_EQ(MenuPlacement::position(panel, cursor, { 440, 560 }, { 0, 0, 1280, 800 }), expected);
}

TEST(TessalyAppTest, QuitEndsToolRunsUnderWay)
{
    Environment environment = ProcessRunner::safeEnvironment(std::nullopt);
    environment["TESSALY_QUIT_CHILD"] = "1";
    environment["QT_QPA_PLATFORM"] = "offscreen";
    environment["ASAN_OPTIONS"] = "detect_leaks=0";
    const std::vector<std::string> arguments { "--gtest_filter=TessalyAppTest.QuitChild" };
    const ProcessResult child = ProcessRunner::runBlocking(
        QCoreApplication::applicationFilePath().toStdString(), arguments, environment, 20);
    const double ended = steadySeconds();
    const auto line = child.stdOut.find("quit at");
    double quitAt = 0;
    ASSERT_TRUE(
        line != std::string::npos && std::sscanf(child.stdOut.c_str() + line, "quit at %lf", &quitAt) == 1)
        << child.stdOut << child.stdErr;
    EXPECT_LT(ended - quitAt, 1.0) << "the process lingered after the quit";
}

// However the event loop ends (the menu, SIGTERM, the session manager's quit), the controller
// tidies up exactly once, even when the loop runs and ends again; closing the last window is
// no way out.
TEST(TessalyAppTest, CleanupRunsOnceWhateverEndsTheAppAndClosingWindowsDoesNot)
{
    TessalyApp::routeTerminationSignals();
    const std::vector<std::string> disconnect { "disconnect", "192.168.1.5:5555" };
    const std::function<void(TessalyApp&)> endings[] = {
        [](TessalyApp& app) {
            for (QAction* item : app.menu().menu()->actions())
                if (item->text() == QStringLiteral("Quit Tessaly"))
                    item->trigger();
        },
        [](TessalyApp&) { ::raise(SIGTERM); },
        [](TessalyApp&) { QCoreApplication::quit(); },
    };
    for (std::size_t ending = 0; ending < std::size(endings); ++ending) {
        ControllerRig rig;
        rig.adb.on({ "devices", "-l" }, deviceList({ "192.168.1.5:5555 device model:A" }));
        rig.defaults->writeBool(AppState::kAutoDisableWirelessOnQuit, true);
        AppState state(rig.services());
        TessalyApp app(state);
        bool ranOn = false;
        QObject scope; // takes this round's timers with it
        QTimer::singleShot(50, &scope, [] {
            for (QWidget* window : QApplication::topLevelWidgets())
                window->close();
        });
        QTimer::singleShot(400, &scope, [&] { ranOn = true; });
        QTimer::singleShot(500, &scope, [&] { endings[ending](app); });
        QTimer::singleShot(5000, &scope, [] { QCoreApplication::exit(1); });
        EXPECT_EQ(QCoreApplication::exec(), 0) << ending;
        EXPECT_TRUE(ranOn) << "closing the windows ended the app, ending " << ending;
        QTimer::singleShot(0, &scope, [] { QCoreApplication::quit(); });
        QCoreApplication::exec();
        const auto calls = rig.adb.calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), disconnect), 1) << ending;
    }
}

TEST(TessalyAppTest, OneInstancePerSessionBusAndLaterStartsHandOver)
{
    PrivateBus bus;
    if (bus.address().isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    const auto connection = [&](const char* name) {
        return QDBusConnection::connectToBus(bus.address(), QString::fromLatin1(name));
    };
    EXPECT_EQ(SingleInstance(QDBusConnection::connectToBus(
                                 QStringLiteral("unix:path=/nonexistent"), QStringLiteral("none")))
                  .claim({}),
        SingleInstance::Claim::NoBus);

    auto first = std::make_unique<SingleInstance>(connection("first"));
    ASSERT_EQ(first->claim({}), SingleInstance::Claim::First);
    QStringList tokens;
    QObject::connect(first.get(), &SingleInstance::activated, [&](const QString& token) { tokens << token; });
    for (const char* name : { "second", "third" }) {
        SingleInstance later(connection(name));
        EXPECT_EQ(later.claim(QString::fromLatin1(name) + QStringLiteral("-token")),
            SingleInstance::Claim::Forwarded);
    }
    EXPECT_EQ(tokens, (QStringList { "second-token", "third-token" }));

    // The name goes with its owner: the next start is the first one.
    first.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("first"));
    {
        SingleInstance next(connection("next"));
        EXPECT_EQ(next.claim({}), SingleInstance::Claim::First);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("next"));

    // An owner that does not answer (here: one holding the name without the object) is not
    // taken for a handed-over start.
    QDBusConnection squatter = connection("squatter");
    for (int i = 0; i < 50 && !squatter.registerService(SingleInstance::kName); ++i)
        QThread::msleep(20);
    ASSERT_EQ(squatter.interface()->serviceOwner(SingleInstance::kName).value(), squatter.baseService());
    SingleInstance stuck(connection("stuck"));
    const SingleInstance::Claim claim = stuck.claim({}, 2000);
    EXPECT_EQ(claim, SingleInstance::Claim::NoAnswer);
    EXPECT_EQ(SingleInstance::exitStatus(claim), 1);
    EXPECT_EQ(SingleInstance::exitStatus(SingleInstance::Claim::Forwarded), 0);
    for (const char* name : { "none", "second", "third", "squatter", "stuck" })
        QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
}

// Without a tray the window comes after the grace period, with its word on the tray; a tray
// takes it away again, unless the user asked for the window; closing it ends nothing.
TEST(TessalyAppTest, WindowStandsInForAMissingTray)
{
    ControllerRig rig;
    rig.adb.on({ "devices", "-l" }, deviceList({}));
    AppState state(rig.services());
    bool trayUp = false;
    TessalyApp app(state, { .trayAvailable = [&] { return trayUp; }, .graceMs = 300, .pollMs = 20 });
    QWidget& window = app.window();
    const auto after = [](int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    after(150);
    EXPECT_FALSE(window.isVisible()) << "shown before the grace period ended";
    after(350);
    ASSERT_TRUE(window.isVisible());
    saveScreenshot(&window, QStringLiteral("window-no-tray"));
    trayUp = true;
    after(100);
    EXPECT_FALSE(window.isVisible()) << "stayed after a tray came";
    trayUp = false;
    after(500);
    EXPECT_TRUE(window.isVisible()) << "the tray went again";
    window.close();
    after(100);
    EXPECT_FALSE(window.isVisible()) << "closed, it stays closed while the tray is missing";
    app.showWindow();
    trayUp = true;
    after(100);
    EXPECT_TRUE(window.isVisible()) << "asked for, it stays when a tray comes";
    saveScreenshot(&window, QStringLiteral("window-tray"));
    window.close();
    EXPECT_TRUE(waitUntilIdle(state));
}

TEST(TessalyAppTest, CommandLineAnswersAndRefusesToStartWithoutADisplay)
{
    const struct {
        QStringList arguments;
        CommandLine::DisplayEnvironment environment;
        std::optional<int> status; // none: the application starts
        QString said;
    } cases[] = {
        { { "tessaly" }, { ":0", "", "" }, std::nullopt, "" },
        { { "tessaly" }, { "", "wayland-0", "" }, std::nullopt, "" },
        { { "tessaly" }, { "", "", "" }, 1, "neither DISPLAY nor WAYLAND_DISPLAY" },
        { { "tessaly" }, { "", "", "xcb" }, 1, "neither DISPLAY" },
        { { "tessaly" }, { "", "", "wayland;offscreen" }, 1, "neither DISPLAY" },
        { { "tessaly" }, { "", "", "offscreen" }, std::nullopt, "" },
        { { "tessaly" }, { "", "", "vnc:size=800x600" }, std::nullopt, "" },
        { { "tessaly", "-platform", "minimal" }, { "", "", "xcb" }, std::nullopt, "" },
        { { "tessaly", "-platform", "xcb" }, { "", "", "offscreen" }, 1, "neither DISPLAY" },
        { { "tessaly", "--version" }, { "", "", "" }, 0, "tessaly " TESSALY_VERSION "\n" },
        { { "tessaly", "--help" }, { "", "", "" }, 0, "-v, --version" },
        { { "tessaly", "--frobnicate" }, { ":0", "", "" }, 1, "Unknown option 'frobnicate'" },
    };
    for (const auto& c : cases) {
        const CommandLine::Outcome outcome = CommandLine::check(c.arguments, c.environment);
        const QString context = c.arguments.join(' ') + QLatin1Char('|') + c.environment.qpaPlatform;
        EXPECT_EQ(outcome.exitStatus, c.status) << context.toStdString();
        EXPECT_TRUE((outcome.output + outcome.error).contains(c.said)) << context.toStdString();
        EXPECT_FALSE(outcome.error.contains(QLatin1Char('\n'))) << context.toStdString();
    }
}

double luminance(const QColor& color)
{
    const auto linear
        = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

// The contrast ratio against the panel that one in twenty of the icon square's pixels reaches.
double contrastOn(const QPixmap& icon, const QColor& panel)
{
    QImage image(icon.size(), QImage::Format_RGB32);
    image.fill(panel);
    QPainter(&image).drawPixmap(0, 0, icon);
    const double background = luminance(panel);
    std::vector<double> ratios;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const double pixel = luminance(image.pixelColor(x, y));
            ratios.push_back((std::max(pixel, background) + 0.05) / (std::min(pixel, background) + 0.05));
        }
    std::sort(ratios.rbegin(), ratios.rend());
    return ratios[ratios.size() / 20];
}

TEST(TessalyAppTest, TrayIconStandsOutOnDarkAndLightPanels)
{
    const QColor panels[] = { QColor(0x33, 0x33, 0x33), QColor(0x1d, 0x1d, 0x1d), QColor(0x30, 0x5c, 0xa8),
        QColor(0xf6, 0xf5, 0xf4), Qt::white };
    const struct {
        bool mirroring;
        std::optional<int> fps;
    } states[] = { { false, std::nullopt }, { true, std::nullopt }, { true, 58 }, { true, 120 } };
    for (int row = 0; row < 5; ++row)
        for (int column = 0; column < 12; ++column) {
            const auto& state = states[column / 3];
            const int size = std::array { 16, 22, 24 }[column % 3];
            const QPixmap icon = TrayIcon::pixmap(state.mirroring, state.fps, size);
            EXPECT_GE(contrastOn(icon, panels[row]), 3.0)
                << panels[row].name().toStdString() << " size " << size << " state " << column / 3;
        }
    EXPECT_EQ(TrayIcon::shownNumber(true, true, FPSReading { 58, 3 }), 58);
    EXPECT_EQ(TrayIcon::shownNumber(false, true, FPSReading { 58, 3 }), std::nullopt);
    EXPECT_EQ(TrayIcon::shownNumber(true, false, FPSReading { 58, 3 }), std::nullopt);
}

} // namespace
} // namespace tessaly
