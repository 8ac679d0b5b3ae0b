#include <algorithm>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

#include "app/MenuContent.h"
#include "app/PairingWindow.h"
#include "app/QrCodeView.h"
#include "app/TessalyApp.h"
#include "support/PairingRig.h"
#include "support/Screenshots.h"

namespace tessaly {
namespace {

using namespace test;
using Stage = WirelessPairing::Stage;

// The lowest grey level of a widget's drawing.
int darkest(QWidget& widget)
{
    const QImage image = widget.grab().toImage().convertToFormat(QImage::Format_Grayscale8);
    const uchar* bits = image.constBits();
    return *std::min_element(bits, bits + image.sizeInBytes());
}

// The window over a pairing rig.
struct OpenWindow : PairingRig {
    std::unique_ptr<PairingWindow> window;

    OpenWindow(double scanWait, const std::string& version, const StandInTool::Answer& pair)
        : PairingRig(version, scanWait, 0.6)
    {
        rig.adb.onPrefix({ "pair" }, pair);
        window = std::make_unique<PairingWindow>(std::move(owned));
        window->open();
    }
    template <typename T = QLabel> T* part(const char* name)
    {
        return window->findChild<T*>(QLatin1String(name));
    }
    bool shown(QWidget* part) { return part->isVisibleTo(window.get()); }
    // What the user reads: the status line, or the error's title when there is one.
    QString says()
    {
        return shown(part(PairingWindow::kStatus)) ? part(PairingWindow::kStatus)->text()
                                                   : part(PairingWindow::kErrorTitle)->text();
    }
};

TEST(PairingWindow, ShowsTheCodeAndEachStepUpToTheConnectedPhone)
{
    OpenWindow w(60, "Version 35.0.1", { .out = "Successfully paired to 192.168.1.23:37105", .delay = 0.6 });
    const std::tuple<Stage, const char*, const char*> steps[] = {
        { Stage::waiting, "⏳ Waiting for your phone to scan…", "pairing-waiting" },
        { Stage::pairing, "⏳ Pairing…", "pairing-pairing" },
        { Stage::connecting, "⏳ Connecting…", "pairing-connecting" },
        { Stage::connected,
            "✅ Paired and connected to Pixel 7\nNext: choose “Mirror Phone” in the Tessaly menu.",
            "pairing-connected" },
    };
    const auto labels = w.window->findChildren<QLabel*>();
    EXPECT_EQ(std::count_if(labels.begin(), labels.end(),
                  [](QLabel* label) { return label->text().endsWith("The code works for 1 minute."); }),
        1);
    for (const auto& [stage, line, screenshot] : steps) {
        ASSERT_TRUE(w.reaches(stage)) << line;
        EXPECT_EQ(w.says(), QString::fromUtf8(line));
        const bool running = stage != Stage::connected;
        EXPECT_EQ(w.shown(&w.window->qrCode()), running);
        EXPECT_EQ(w.window->qrCode().moduleCount() > 20, running);
        // Once scanned, the code is spent: nothing of it stays dark enough to scan.
        const bool spent = stage == Stage::pairing || stage == Stage::connecting;
        EXPECT_TRUE(!running || (darkest(w.window->qrCode()) > 64) == spent);
        EXPECT_EQ(w.part<QPushButton>(PairingWindow::kCancel)->text(), running ? "Cancel" : "Close");
        EXPECT_FALSE(w.shown(w.part<QPushButton>(PairingWindow::kTryAgain)));
        saveScreenshot(w.window.get(), QString::fromUtf8(screenshot));
        if (stage == Stage::waiting)
            w.phoneScans("192.168.1.23");
    }
    w.part<QPushButton>(PairingWindow::kCancel)->click();
    EXPECT_FALSE(w.window->isVisible());
}

TEST(PairingWindow, ShowsFailuresAsFriendlyErrors)
{
    const struct {
        const char* screenshot;
        std::string version, scannedFrom, title;
        bool details, tryAgain;
    } cases[] = {
        { "pairing-failed", "Version 35.0.1", "192.168.1.23", "Pairing didn’t work.", true, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.screenshot);
        OpenWindow w(
            0.3, c.version, { .err = "Failed: Wrong password or connection was dropped.", .exitCode = 1 });
        if (!c.scannedFrom.empty()) {
            ASSERT_TRUE(w.reaches(Stage::waiting));
            w.phoneScans(c.scannedFrom);
        }
        ASSERT_TRUE(w.reaches(Stage::failed));
        EXPECT_EQ(w.says(), QString::fromStdString(c.title));
        EXPECT_FALSE(w.shown(&w.window->qrCode()));
        EXPECT_EQ(w.shown(w.part<QPushButton>(PairingWindow::kShowDetails)), c.details);
        EXPECT_EQ(w.shown(w.part<QPushButton>(PairingWindow::kTryAgain)), c.tryAgain);
        saveScreenshot(w.window.get(), QString::fromUtf8(c.screenshot));
        const auto x = [&](const char* name) { return w.part<QPushButton>(name)->x(); };
        EXPECT_TRUE(!c.details || x(PairingWindow::kShowDetails) < x(PairingWindow::kTryAgain));
    }
}

TEST(PairingWindow, WithAnOldAdbTheMenuItemOpensStraightToTheExplanation)
{
    ControllerRig rig;
    actAsAdb(rig.adb, "29.0.6-debian");
    AppState state(rig.services());
    TessalyApp app(state);
    for (QAction* item : app.menu().menu()->actions())
        if (item->text() == QStringLiteral("Pair over Wi-Fi (QR code)…") && item->isEnabled())
            item->trigger();
    ASSERT_TRUE(waitFor([&] { return app.pairingWindow() != nullptr; }));
    // Decided before the window opened: it never shows a code, nor a look at adb.
    PairingWindow& window = *app.pairingWindow();
    EXPECT_EQ(window.pairing().stage(), Stage::failed);
    EXPECT_EQ(window.qrCode().moduleCount(), 0);
    EXPECT_FALSE(window.findChild<QLabel*>(QLatin1String(PairingWindow::kStatus))->isVisibleTo(&window));
    EXPECT_EQ(window.findChild<QLabel*>(QLatin1String(PairingWindow::kErrorTitle))->text(),
        QStringLiteral("This needs adb 30 or later. Your adb is 29.0.6-debian."));
    saveScreenshot(&window, QStringLiteral("pairing-adb-too-old"));
    const auto calls = rig.adb.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), std::vector<std::string> { "version" }), 1);
    EXPECT_EQ(
        std::count_if(calls.begin(), calls.end(), [](const auto& call) { return call[0] == "pair"; }), 0);
    EXPECT_TRUE(waitUntilIdle(state));
}

} // namespace
} // namespace tessaly
