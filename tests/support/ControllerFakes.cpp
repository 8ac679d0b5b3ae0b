#include "support/ControllerFakes.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace tessaly::test {

AppState::Services ControllerRig::services()
{
    AppState::Services s;
    if (withAdb)
        s.adbPath = adb.path();
    if (withScrcpy)
        s.scrcpyPath = scrcpy.path();
    s.pinger = Pinger(ping.path(), { ping.folder() + "/" });
    s.defaults = defaults;
    s.loginItem = loginItem;
    s.network = network;
    s.presenter = presenter;
    s.clock = clock;
    s.timeScale = timeScale;
    s.picturesFolder = [this] { return pictures; };
    s.localTime = [this] { return localTime; };
    return s;
}

bool waitUntilIdle(AppState& state, int timeoutMs)
{
    if (!state.hasRunningTasks())
        return true;
    QEventLoop loop;
    QObject::connect(&state, &AppState::idle, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return !state.hasRunningTasks();
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

StandInTool::Answer deviceList(const std::vector<std::string>& lines)
{
    std::string out = "List of devices attached\n";
    for (const std::string& line : lines)
        out += line + "\n";
    return { .out = out };
}

Device usbPhone(std::string serial, std::optional<std::string> model, std::string state)
{
    return Device { std::move(serial), std::move(state), std::move(model), Device::Connection::usb };
}

Device wifiPhone(std::string serial, std::optional<std::string> model, std::string state)
{
    return Device { std::move(serial), std::move(state), std::move(model), Device::Connection::wifi };
}

} // namespace tessaly::test
