#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

#include "app/MenuContent.h"
#include "app/PairingWindow.h"
#include "app/QrCodeView.h"
#include "controller/WirelessPairing.h"
#include "support/ControllerFakes.h"
#include "support/FakeServiceBrowser.h"
#include "support/Screenshots.h"

namespace tessaly {
namespace {

using namespace test;
using Stage = WirelessPairing::Stage;

const std::string kPairType = "_adb-tls-pairing._tcp";
const std::string kConnectType = "_adb-tls-connect._tcp";
const std::string kPaired = "Successfully paired to 192.168.1.23:37105 [guid=adb-R58M-AbCdEf]";

// The window over the stand-in adb (version 35 unless told) and a fake network.
struct OpenWindow {
    ControllerRig rig;
    std::unique_ptr<AppState> state;
    FakeBrowsing network;
    std::unique_ptr<PairingWindow> window;

    explicit OpenWindow(double scanWait = 60, const std::string& version = "Version 35.0.1-11580240")
    {
        rig.adb.on({ "version" }, { .out = version });
        rig.adb.on(
            { "connect", "192.168.1.23:41234" }, { .out = "connected to 192.168.1.23:41234", .delay = 0.6 });
        rig.adb.on({ "devices", "-l" }, deviceList({ "192.168.1.23:41234 device model:Pixel_7" }));
        state = rig.make();
        window = std::make_unique<PairingWindow>(std::make_unique<WirelessPairing>(*state, network.factory(),
            WirelessPairing::Limits { .scanWait = scanWait, .connectServiceWait = 5, .pollMs = 5 }));
        window->open();
    }
    bool reaches(Stage stage)
    {
        return waitFor([&] { return window->pairing().stage() == stage; });
    }
    void phoneScans(const std::string& address = "192.168.1.23")
    {
        network.resolve(kConnectType, "adb-R58M-x5Tq", address, 41234);
        network.resolve(kPairType, window->pairing().serviceName(), address, 37105);
    }
    QString text(const char* part) { return window->findChild<QLabel*>(QLatin1String(part))->text(); }
    bool shown(const char* part)
    {
        return window->findChild<QWidget*>(QLatin1String(part))->isVisibleTo(window.get());
    }
    void screenshot(const char* name)
    {
        EXPECT_FALSE(saveScreenshot(window.get(), QString::fromUtf8(name)).isEmpty());
    }
};

TEST(PairingWindow, ShowsTheCodeAndEachStepUpToTheConnectedPhone)
{
    OpenWindow w;
    w.rig.adb.onPrefix({ "pair" }, { .out = kPaired, .delay = 0.6 });
    ASSERT_TRUE(w.reaches(Stage::waiting));
    EXPECT_GT(w.window->qrCode().moduleCount(), 20);
    EXPECT_TRUE(w.window->qrCode().isVisibleTo(w.window.get()));
    EXPECT_EQ(w.text(PairingWindow::kStatus), QStringLiteral("⏳ Waiting for your phone to scan…"));
    EXPECT_FALSE(w.shown(PairingWindow::kTryAgain));
    w.screenshot("pairing-waiting");

    w.phoneScans();
    ASSERT_TRUE(w.reaches(Stage::pairing));
    EXPECT_EQ(w.text(PairingWindow::kStatus), QStringLiteral("⏳ Pairing…"));
    w.screenshot("pairing-pairing");
    ASSERT_TRUE(w.reaches(Stage::connecting));
    EXPECT_EQ(w.text(PairingWindow::kStatus), QStringLiteral("⏳ Connecting…"));
    w.screenshot("pairing-connecting");
    ASSERT_TRUE(w.reaches(Stage::connected));
    EXPECT_EQ(w.text(PairingWindow::kStatus), QStringLiteral("✅ Paired and connected to Pixel_7"));
    EXPECT_FALSE(w.window->qrCode().isVisibleTo(w.window.get()));
    EXPECT_EQ(w.window->findChild<QPushButton*>(PairingWindow::kCancel)->text(), QStringLiteral("Close"));
    w.screenshot("pairing-connected");
}

TEST(PairingWindow, ShowsFailuresAsFriendlyErrors)
{
    const struct {
        const char* screenshot;
        std::string version, scannedFrom;
        const char* title;
        bool details, tryAgain;
    } cases[] = {
        { "pairing-failed", "Version 35.0.1", "192.168.1.23", "Pairing didn’t work.", true, true },
        { "pairing-not-home-network", "Version 35.0.1", "192.0.2.7", "Your phone isn’t on a home network.",
            false, true },
        { "pairing-adb-too-old", "Version 29.0.6-debian", "",
            "This needs adb 30 or later. Your adb is 29.0.6-debian.", false, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.screenshot);
        OpenWindow w(0.3, c.version);
        w.rig.adb.onPrefix(
            { "pair" }, { .err = "Failed: Wrong password or connection was dropped.", .exitCode = 1 });
        if (!c.scannedFrom.empty() && w.reaches(Stage::waiting))
            w.phoneScans(c.scannedFrom);
        ASSERT_TRUE(w.reaches(Stage::failed));
        EXPECT_EQ(w.text(PairingWindow::kErrorTitle), QString::fromUtf8(c.title));
        EXPECT_FALSE(w.shown(PairingWindow::kStatus));
        EXPECT_FALSE(w.window->qrCode().isVisibleTo(w.window.get()));
        EXPECT_EQ(w.shown(PairingWindow::kShowDetails), c.details);
        EXPECT_EQ(w.shown(PairingWindow::kTryAgain), c.tryAgain);
        w.screenshot(c.screenshot);
    }
}

TEST(PairingWindow, CancelStopsLookingAndTheMenuOffersItOnlyWithAdb)
{
    OpenWindow w;
    ASSERT_TRUE(w.reaches(Stage::waiting));
    w.window->findChild<QPushButton*>(PairingWindow::kCancel)->click();
    EXPECT_FALSE(w.window->isVisible());
    EXPECT_EQ(w.window->pairing().stage(), Stage::idle);
    EXPECT_FALSE(w.network.browsing());

    for (const bool withAdb : { true, false }) {
        ControllerRig rig;
        rig.withAdb = withAdb;
        const auto state = rig.make();
        MenuContent content(*state);
        const QList<QAction*> items = content.menu()->actions();
        const auto pair = std::find_if(items.begin(), items.end(),
            [](QAction* a) { return a->text() == QStringLiteral("Pair over Wi-Fi (QR code)…"); });
        ASSERT_NE(pair, items.end());
        EXPECT_EQ((*pair)->isEnabled(), withAdb);
    }
}

} // namespace
} // namespace tessaly
