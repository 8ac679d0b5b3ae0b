#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/AppState.h"
#include "platform/InMemoryDefaults.h"
#include "support/FakeLoginItem.h"
#include "support/FakeNetworkInfo.h"
#include "support/RecordingPresenter.h"
#include "support/StandInTool.h"

namespace tessaly::test {

// Time moves only when the controller sleeps (or a test says so); every wait is recorded.
class FakeClock : public Clock {
public:
    double current = 1000;
    std::vector<double> sleeps;

    double now() const override { return current; }
    QCoro::Task<> sleep(double seconds) override
    {
        sleeps.push_back(seconds);
        current += seconds;
        co_return;
    }
};

// A controller wired to stand-in tools and fakes, as the tests of the controller need it.
struct ControllerRig {
    StandInTool adb { "adb" };
    StandInTool scrcpy { "scrcpy" };
    StandInTool ping { "ping" };
    std::shared_ptr<Defaults> defaults = std::make_shared<InMemoryDefaults>();
    std::shared_ptr<FakeLoginItem> loginItem = std::make_shared<FakeLoginItem>();
    std::shared_ptr<FakeNetworkInfo> network = std::make_shared<FakeNetworkInfo>();
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    bool withAdb = true;
    bool withScrcpy = true;
    double timeScale = 1; // of the controller's time limits
    // Where screenshots go (none: no Pictures folder to be had) and the time that names them.
    std::optional<std::string> pictures;
    QDateTime localTime { QDate(2026, 12, 6), QTime(19, 30, 5) };

    AppState::Services services();
    std::unique_ptr<AppState> make() { return std::make_unique<AppState>(services()); }
};

// Lets a test put the controller into a state that later operations would produce.
class PlacedAppState : public AppState {
public:
    using AppState::AppState;
    void place(std::vector<Device> devices, std::optional<std::string> router = std::nullopt)
    {
        m_devices = std::move(devices);
        m_macRouterIP = std::move(router);
        emit changed();
    }
    void placeMirroring(std::optional<std::string> label, std::optional<FPSReading> reading)
    {
        m_isMirroring = true;
        m_mirroringLabel = std::move(label);
        m_fps = reading;
        emit changed();
    }
    void placeBusy(std::optional<std::string> message) { setBusyMessage(std::move(message)); }
    // The serial a network link's phone reported for itself.
    void placeReportedSerial(const std::string& serial, const std::string& reported)
    {
        m_reportedSerials[serial] = reported;
        emit changed();
    }
    void placeQuickShare(QuickShareReceiver::Status status, bool on)
    {
        m_quickShareStatus = std::move(status);
        m_quickShareOn = on;
        emit changed();
    }
    void placePocketMode(bool on)
    {
        m_mirroringInPocketMode = on;
        emit changed();
    }
    void placeQuality(std::optional<ConnectionQuality> quality, bool checking)
    {
        m_quality = std::move(quality);
        m_isCheckingQuality = checking;
        emit changed();
    }
};

// Runs the event loop until the controller's tasks have all ended (or the time is up).
bool waitUntilIdle(AppState& state, int timeoutMs = 5000);

// Runs the event loop until `condition` holds (checked every 10 ms) or the time is up.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

// adb's answer to "devices -l" for the given lines (each "SERIAL STATE [fields]").
StandInTool::Answer deviceList(const std::vector<std::string>& lines);

Device usbPhone(std::string serial, std::optional<std::string> model = {}, std::string state = "device");
Device wifiPhone(std::string serial, std::optional<std::string> model = {}, std::string state = "device");

} // namespace tessaly::test
