#include "controller/AppState.h"

#include "tools/ProcessRunner.h"

namespace tessaly {

namespace {

constexpr double kStartServerLimit = 10;
constexpr double kDevicesLimit = 5;
constexpr double kQuitDevicesLimit = 3;
constexpr double kQuitCommandLimit = 4;
constexpr int kRefreshIntervalMs = 3000;

} // namespace

void AppState::start()
{
    publish(m_launchAtLogin, m_services.loginItem->isEnabled(), &AppState::launchAtLoginChanged);
    launchTask(startNow());
    connectQuickShare();
    applyQuickShare();
    if (m_isFirstLaunch)
        emit setupGuideRequested();
}

QCoro::Task<> AppState::startNow()
{
    if (m_adb) {
        std::vector<std::string> arguments { "start-server" };
        co_await m_adb->run(std::move(arguments), kStartServerLimit);
    }
    co_await refresh();
}

QCoro::Task<std::vector<Device>> AppState::listDevices()
{
    if (!m_adb)
        co_return std::vector<Device> {};
    std::vector<std::string> arguments { "devices", "-l" };
    const ProcessResult result = co_await m_adb->run(std::move(arguments), kDevicesLimit);
    co_return ADB::parseDevices(result.stdOut);
}

QCoro::Task<> AppState::refresh()
{
    if (!m_adb)
        co_return;
    std::vector<Device> listed = co_await listDevices();
    // Learned first, so that a phone on the cable and on Wi-Fi never shows as two for a moment.
    co_await learnReportedSerials(listed);
    setDevices(std::move(listed));
    publish(m_macRouterIP, m_services.network->wifiRouterIP(), &AppState::macRouterIPChanged);
}

void AppState::menuOpened()
{
    publish(m_launchAtLogin, m_services.loginItem->isEnabled(), &AppState::launchAtLoginChanged);
    launchTask([](AppState* self) -> QCoro::Task<> {
        co_await self->refresh();
        self->checkQualityIfNeeded();
    }(this));
    // The phone list stays fresh only while someone is looking at it.
    m_refreshTimer = std::make_unique<QTimer>();
    m_refreshTimer->setInterval(int(kRefreshIntervalMs * m_services.timeScale));
    connect(m_refreshTimer.get(), &QTimer::timeout, this, [this] { launchTask(refresh()); });
    m_refreshTimer->start();
}

void AppState::menuClosed()
{
    m_refreshTimer.reset();
}

void AppState::setLaunchAtLogin(bool on)
{
    if (const auto failure = m_services.loginItem->setEnabled(on))
        showError(FriendlyError::loginItemFailed(*failure));
    // Follow the real state, also after a failure.
    publish(m_launchAtLogin, m_services.loginItem->isEnabled(), &AppState::launchAtLoginChanged);
}

void AppState::cleanupForQuit()
{
    m_refreshTimer.reset();
    m_scrcpy->stopAndWait();
    if (m_stopFileCopies)
        m_stopFileCopies();
    if (m_services.quickShare)
        m_services.quickShare->stopAndWait();
    if (!m_autoDisableWirelessOnQuit || !m_adb)
        return;

    const std::string& adb = m_adb->executable;
    const Environment environment = ProcessRunner::safeEnvironment(adb);
    const auto runQuitCommand = [&](std::vector<std::string> arguments, double limit) {
        return ProcessRunner::runBlocking(adb, arguments, environment, limit * m_services.timeScale);
    };

    const ProcessResult listing = runQuitCommand({ "devices", "-l" }, kQuitDevicesLimit);
    const std::vector<Device> listed = ADB::parseDevices(listing.stdOut);
    const auto isWifi = [](const Device& d) { return d.connection == Device::Connection::wifi; };
    if (std::none_of(listed.begin(), listed.end(), isWifi))
        return;

    const Device* target = nullptr;
    for (const auto wanted : { Device::Connection::wifi, Device::Connection::usb }) {
        for (const Device& d : listed) {
            if (d.state == "device" && d.connection == wanted) {
                target = &d;
                break;
            }
        }
        if (target)
            break;
    }
    // Stops the phone from listening for debugging on the network.
    if (target)
        runQuitCommand({ "-s", target->serial, "usb" }, kQuitCommandLimit);
    for (const Device& d : listed)
        if (isWifi(d))
            runQuitCommand({ "disconnect", d.serial }, kQuitCommandLimit);
}

} // namespace tessaly
