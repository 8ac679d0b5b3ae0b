#include "controller/AppState.h"

#include <cassert>

#include "tools/ProcessRunner.h"
#include "tools/Validation.h"

namespace tessaly {

namespace {

AppState* g_shared = nullptr;

bool isReady(const Device& device)
{
    return device.state == "device";
}

bool isDiscoveredService(const std::string& serial)
{
    return serial.find("._adb-tls-connect._tcp") != std::string::npos;
}

} // namespace

AppState::AppState(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
{
    assert(m_services.defaults && m_services.loginItem && m_services.network && m_services.presenter
        && m_services.clock);
    if (m_services.adbPath)
        m_adb = ADB { *m_services.adbPath, m_services.timeScale };
    m_scrcpyPath = m_services.scrcpyPath;
    m_scrcpy = std::make_unique<ScrcpyRunner>();
    readSettings();
}

AppState::~AppState()
{
    // Ends the run and its reader thread before the handlers that point here go away.
    m_scrcpy.reset();
    // The receiver may outlive this controller; its callbacks point here.
    if (const auto& receiver = m_services.quickShare) {
        receiver->onStatus = nullptr;
        receiver->onRequest = nullptr;
        receiver->onProgress = nullptr;
        receiver->onFinished = nullptr;
    }
    if (g_shared == this)
        g_shared = nullptr;
}

AppState& AppState::shared()
{
    assert(g_shared && "AppState::install must run first");
    return *g_shared;
}

void AppState::install(std::unique_ptr<AppState> state)
{
    g_shared = state.release();
}

// Settings ---------------------------------------------------------------------------

void AppState::readSettings()
{
    Defaults& store = defaults();
    m_isFirstLaunch = !store.contains(kSettingsVersion);
    // Version 2 moved every earlier user back to the automatic preset once.
    if (store.readInt(kSettingsVersion) < 2) {
        store.writeString(kPreset, std::string(rawValue(QualityPreset::automatic)));
        store.writeInt(kSettingsVersion, 2);
    }

    const auto raw = store.readString(kPreset);
    m_preset = raw ? qualityPresetFromRaw(*raw).value_or(QualityPreset::automatic) : QualityPreset::automatic;
    m_pocketMode = store.isBool(kPocketMode) ? store.readBool(kPocketMode) : store.readBool(kTurnScreenOff);
    m_stayAwake = store.isBool(kStayAwake) ? store.readBool(kStayAwake) : true;
    m_realKeyboard = store.readBool(kRealKeyboard);
    m_audio = store.readBool(kAudio);
    m_showFPS = store.readBool(kShowFPS);
    m_autoDisableWirelessOnQuit
        = store.isBool(kAutoDisableWirelessOnQuit) ? store.readBool(kAutoDisableWirelessOnQuit) : true;
    m_quickShareOn = store.readBool(kQuickShareReceive);
}

void AppState::storeFlag(const char* key, bool& field, bool value)
{
    const bool changedValue = field != value;
    field = value;
    defaults().writeBool(key, value);
    if (changedValue) {
        emit settingsChanged();
        emit changed();
    }
}

void AppState::setPreset(QualityPreset preset)
{
    const bool changedValue = m_preset != preset;
    m_preset = preset;
    defaults().writeString(kPreset, std::string(rawValue(preset)));
    if (changedValue) {
        emit settingsChanged();
        emit changed();
    }
    // The Wi-Fi presets keep the stream lean: sound would compete for the link.
    if (preset == QualityPreset::lowLatency || preset == QualityPreset::smooth
        || preset == QualityPreset::lowLag)
        setAudio(false);
}

void AppState::setPocketMode(bool on)
{
    storeFlag(kPocketMode, m_pocketMode, on);
}
void AppState::setStayAwake(bool on)
{
    storeFlag(kStayAwake, m_stayAwake, on);
}
void AppState::setRealKeyboard(bool on)
{
    storeFlag(kRealKeyboard, m_realKeyboard, on);
}
void AppState::setAudio(bool on)
{
    storeFlag(kAudio, m_audio, on);
}
void AppState::setShowFPS(bool on)
{
    storeFlag(kShowFPS, m_showFPS, on);
}
void AppState::setAutoDisableWirelessOnQuit(bool on)
{
    storeFlag(kAutoDisableWirelessOnQuit, m_autoDisableWirelessOnQuit, on);
}
void AppState::setQuickShareOn(bool on)
{
    storeFlag(kQuickShareReceive, m_quickShareOn, on);
    applyQuickShare();
}

// Derived state ----------------------------------------------------------------------

bool AppState::hasUSBDevice() const
{
    for (const Device& d : phoneScope(m_devices).devices)
        if (d.connection == Device::Connection::usb && isReady(d))
            return true;
    return false;
}

bool AppState::wirelessActive() const
{
    for (const Device& d : m_devices)
        if (d.connection == Device::Connection::wifi)
            return true;
    return false;
}

bool AppState::isHotspot(const Device& device) const
{
    if (device.connection != Device::Connection::wifi || !m_macRouterIP)
        return false;
    const auto hostPort = Validation::privateHostPort(device.serial);
    return hostPort && hostPort->ip == *m_macRouterIP;
}

bool AppState::isOnHotspot() const
{
    for (const Device& d : m_devices)
        if (isReady(d) && isHotspot(d))
            return true;
    return false;
}

std::string AppState::statusText() const
{
    if (!m_adb && !m_scrcpyPath)
        return "adb and scrcpy not found";
    if (!toolsFound())
        return std::string(m_adb ? "scrcpy" : "adb") + " not found";
    const PhoneChoice::Scope scope = phoneScope(m_devices);
    std::string status = statusOf(scope.devices);
    if (scope.chosenGone) {
        const auto name = defaults().readString(kChosenPhoneName);
        status += "\n" + (name ? *name : std::string("The chosen phone"))
            + " isn’t connected, so Tessaly uses this one.";
    }
    return status;
}

std::string AppState::statusOf(const std::vector<Device>& devices) const
{
    const Device* usb = nullptr;
    const Device* wifi = nullptr;
    for (const Device& d : devices) {
        if (!isReady(d))
            continue;
        if (!usb && d.connection == Device::Connection::usb)
            usb = &d;
        if (!wifi && d.connection == Device::Connection::wifi)
            wifi = &d;
    }
    if (!usb && !wifi) {
        for (const Device& d : devices)
            if (d.state == "unauthorized")
                return "Tap “Allow” on your phone";
        return "Phone not found";
    }
    const std::string label = wifi && isHotspot(*wifi) ? "Hotspot" : "Wi-Fi";
    const std::optional<std::string>& model = usb ? usb->model : wifi->model;
    const std::string suffix = model ? " (" + *model + ")" : "";
    if (usb && wifi)
        return "Connected via USB + " + label + suffix;
    if (usb)
        return "Connected via USB" + suffix;
    return "Connected via " + label + suffix;
}

std::optional<std::string> AppState::mirroringLine() const
{
    if (!m_isMirroring || !m_mirroringLabel)
        return std::nullopt;
    std::string line = "Mirroring: " + *m_mirroringLabel;
    if (m_fps) {
        line += " · " + std::to_string(m_fps->fps) + " fps";
        if (m_fps->skipped >= 1)
            line += " (+" + std::to_string(m_fps->skipped) + " skipped)";
    }
    for (const std::string& note : m_mirroringNotes)
        line += " – " + note;
    return line;
}

std::optional<Device> AppState::pickDevice(const std::vector<Device>& devices)
{
    for (const Device& d : devices)
        if (isReady(d) && d.connection == Device::Connection::usb)
            return d;
    for (const Device& d : devices)
        if (isReady(d) && d.connection == Device::Connection::wifi
            && (Validation::privateHostPort(d.serial) || isDiscoveredService(d.serial)))
            return d;
    return std::nullopt;
}

// Published setters ------------------------------------------------------------------

void AppState::setBusyMessage(std::optional<std::string> message)
{
    publish(m_busyMessage, std::move(message), &AppState::busyMessageChanged);
}

void AppState::setDevices(std::vector<Device> devices)
{
    publish(m_devices, std::move(devices), &AppState::devicesChanged);
}

void AppState::showError(const FriendlyError& error)
{
    // Set even when equal, so the menu offers the details of this very error.
    m_lastError = error;
    emit lastErrorChanged();
    emit changed();
    setBusyMessage(std::nullopt);
    m_services.presenter->presentError(error);
}

void AppState::showSuccess(const std::string& title, const std::string& text)
{
    publish(m_quality, std::nullopt, &AppState::qualityChanged);
    setBusyMessage(std::nullopt);
    m_services.presenter->showInfo(title, text);
    setBusyMessage(std::nullopt);
}

void AppState::showLastErrorDetails()
{
    if (m_lastError)
        m_services.presenter->showDetails(m_lastError->detailsOrSummary());
}

void AppState::launchTask(QCoro::Task<> task)
{
    ++m_runningTasks;
    QCoro::connect(std::move(task), this, [this] {
        if (--m_runningTasks == 0)
            emit idle();
    });
}

} // namespace tessaly
