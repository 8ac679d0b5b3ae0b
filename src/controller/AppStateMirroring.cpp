#include "controller/AppState.h"

#include <algorithm>
#include <cctype>

#include "mirroring/ScrcpyCommandLine.h"
#include "tools/ProcessRunner.h"
#include "tools/Text.h"
#include "tools/Validation.h"

namespace tessaly {

namespace {

constexpr double kEncoderQueryLimit = 20;
constexpr double kReconnectPause = 0.5;
// An encoder refusal this soon after a tuned start is worth one retry without the tuning.
constexpr double kSafeModeWindow = 20;

const char* const kPhoneNotFoundAdvice
    = "Check:\n• Plug in the USB cable, or\n• Make sure the computer and phone are on the same Wi-Fi, and\n"
      "• USB debugging is still ON in Developer options.\n"
      "If you rebooted the phone, plug in the cable and click “Go Wireless” again.";

const FriendlyError kWaitingForPermission { "Your phone is waiting for permission.",
    "Unlock your phone and tap “Allow” on the “Allow USB debugging?” popup (tick “Always allow from this "
    "computer”). Then try again.",
    "" };

bool containsAny(const std::string& text, std::initializer_list<const char*> phrases)
{
    return std::any_of(
        phrases.begin(), phrases.end(), [&](const char* p) { return text.find(p) != std::string::npos; });
}

} // namespace

FriendlyError FriendlyError::fromScrcpy(std::int32_t exitCode, const std::string& output)
{
    const std::string text = asciiLowercase(output);
    FriendlyError error;
    if (const auto option = ScrcpyOutput::rejectedOption(output))
        return FriendlyError::scrcpyRefusedOption(
            *option, ScrcpyCapabilities::versionIn(output).value_or(""), output);
    if (containsAny(text, { "unauthorized" }))
        error = kWaitingForPermission;
    else if (containsAny(text, { "injecting input", "inject_events", "securityexception" }))
        error = { "The phone blocked mouse/keyboard control.",
            "On Xiaomi/POCO phones, turn ON “USB debugging (Security settings)” in Developer options (it "
            "needs a "
            "SIM and a Mi account sign-in), then restart mirroring.",
            "" };
    else if (containsAny(
                 text, { "could not find any adb device", "no devices", "device offline", "not found" }))
        error = { "Phone not found.", kPhoneNotFoundAdvice, "" };
    else if (exitCode == 2)
        error = { "The connection to your phone was lost.",
            "The cable was unplugged or Wi-Fi dropped. Reconnect and click “Mirror Phone” again.", "" };
    else
        error = { "Mirroring stopped unexpectedly.",
            "Try unplugging and replugging the cable, or choose “Low latency (Wi-Fi)” under Quality. Click "
            "“Show "
            "Details” to see scrcpy’s message.",
            "" };
    error.details = output;
    return error;
}

FriendlyError AppState::phoneNotFoundError(std::string details)
{
    return { "Phone not found.", kPhoneNotFoundAdvice, std::move(details) };
}

FriendlyError AppState::waitingForPermissionError()
{
    return kWaitingForPermission;
}

FriendlyError AppState::missingToolsError()
{
    return { "scrcpy or adb is missing.",
        "Tessaly only runs these tools from trusted system folders.\nInstall them with:\n  sudo apt install "
        "adb scrcpy",
        "" };
}

std::string AppState::phoneKey(const Device& device)
{
    return device.model.value_or(device.serial);
}

void AppState::mirror()
{
    if (m_isMirroring || m_busyMessage)
        return;
    launchTask(mirrorNow());
}

void AppState::stopMirroring()
{
    m_scrcpy->stop();
}

void AppState::showScrcpyOutput()
{
    m_services.presenter->showDetails(m_scrcpy->output());
}

std::vector<std::string> AppState::reconnectAddresses() const
{
    std::vector<std::string> addresses;
    if (defaults().readBool(kLastWasHotspot) && m_macRouterIP)
        addresses.push_back(*m_macRouterIP);
    const auto saved = defaults().readString(kLastPhoneIP);
    if (saved && Validation::isPrivateLANIPv4(*saved)) {
        if (!addresses.empty() && addresses.front() == *saved)
            return addresses;
        addresses.push_back(*saved);
    }
    return addresses;
}

QCoro::Task<> AppState::mirrorNow()
{
    if (!toolsFound()) {
        showError(missingToolsError());
        co_return;
    }
    setBusyMessage("Looking for your phone…");
    std::vector<Device> listed = co_await listDevices();
    publish(m_macRouterIP, m_services.network->wifiRouterIP(), &AppState::macRouterIPChanged);
    std::optional<Device> device = pickDevice(co_await chosenLinks(listed));

    std::optional<std::string> lastConnectOutput;
    if (!device) {
        for (const std::string& address : reconnectAddresses()) {
            setBusyMessage("Reconnecting to " + address + "…");
            const ADB::ConnectResult attempt = co_await m_adb->connect(address, wirelessPort());
            lastConnectOutput = attempt.output;
            co_await m_services.clock->sleep(kReconnectPause);
            listed = co_await listDevices();
            device = pickDevice(co_await chosenLinks(listed));
            if (device)
                break;
        }
    }
    setDevices(listed);

    if (!device) {
        const bool waiting = std::any_of(
            listed.begin(), listed.end(), [](const Device& d) { return d.state == "unauthorized"; });
        showError(waiting ? waitingForPermissionError() : phoneNotFoundError(lastConnectOutput.value_or("")));
        co_return;
    }

    const StreamSettings settings = co_await streamSettings(*device);
    co_await launch(settings, *device, m_encoderTweaksRejected.contains(phoneKey(*device)));
    setBusyMessage(std::nullopt);
}

QCoro::Task<StreamSettings> AppState::streamSettings(Device device)
{
    const bool wireless = device.connection == Device::Connection::wifi;
    if (m_preset == QualityPreset::automatic && wireless) {
        setBusyMessage("Checking Wi-Fi quality…");
        const std::optional<ConnectionQuality> measured = co_await recentQuality(device);
        const bool poor = measured && measured->rating() == ConnectionQuality::Rating::poor;
        co_return StreamSettings::forPreset(m_preset, true, poor);
    }
    co_return StreamSettings::forPreset(m_preset, wireless, false);
}

QCoro::Task<std::optional<std::string>> AppState::hardwareEncoder(Device device)
{
    const std::string key = phoneKey(device);
    if (const auto cached = m_encoderCache.find(key); cached != m_encoderCache.end())
        co_return cached->second;
    if (!toolsFound())
        co_return std::nullopt;
    setBusyMessage("Checking your phone’s video encoder…");
    std::vector<std::string> arguments { "-s", device.serial, "--list-encoders" };
    const ProcessResult result = co_await ProcessRunner::run(*m_scrcpyPath, std::move(arguments),
        ProcessRunner::safeEnvironment(m_adb->executable), kEncoderQueryLimit * m_services.timeScale);
    // A failed or timed-out query caches "none" too: the session then runs without a named encoder.
    const std::optional<std::string> encoder = ScrcpyOutput::hardwareH264Encoder(result.combinedOutput());
    m_encoderCache[key] = encoder;
    co_return encoder;
}

QCoro::Task<ScrcpyCapabilities> AppState::scrcpyCapabilities()
{
    if (!toolsFound())
        co_return ScrcpyCapabilities {};
    co_return co_await m_scrcpyCapabilities.capabilities(
        *m_scrcpyPath, ProcessRunner::safeEnvironment(m_adb->executable));
}

QCoro::Task<> AppState::launch(StreamSettings settings, Device device, bool safeMode)
{
    if (!toolsFound()) {
        showError(missingToolsError());
        co_return;
    }
    const ScrcpyCapabilities capabilities = co_await scrcpyCapabilities();
    if (const auto missing = ScrcpyCommandLine::missingEssentials(capabilities); !missing.empty()) {
        showError(FriendlyError::scrcpyTooOld(capabilities.version, missing));
        co_return;
    }
    std::optional<std::string> encoder;
    // Before --list-encoders there is no encoder list to read.
    if (settings.wantsHardwareEncoder && !safeMode && capabilities.has("list-encoders"))
        encoder = co_await hardwareEncoder(device);

    const MirrorOptions options { m_pocketMode, m_stayAwake, m_realKeyboard, m_audio, m_showFPS,
        device.connection == Device::Connection::wifi };
    ScrcpyCommandLine fitted = ScrcpyCommandLine::fit(
        ScrcpyCommandLine::designed(device.serial, settings, encoder, safeMode, options), options,
        capabilities);
    const std::vector<std::string>& arguments = fitted.arguments;

    publish(m_fps, std::nullopt, &AppState::fpsChanged);
    // Lines arrive on the reader thread; the reading is published on this one.
    const auto onLine = [this](const std::string& line) {
        if (const auto reading = ScrcpyOutput::fps(line))
            QMetaObject::invokeMethod(
                this, [this, reading] { publish(m_fps, reading, &AppState::fpsChanged); },
                Qt::QueuedConnection);
    };
    const auto onExit = [this](std::int32_t status, const std::string& output, bool stoppedByUser) {
        mirroringEnded(status, output, stoppedByUser);
    };
    const std::error_code failure = m_scrcpy->start(
        *m_scrcpyPath, arguments, ProcessRunner::safeEnvironment(m_adb->executable), onLine, onExit);
    if (failure) {
        showError({ "Couldn't start scrcpy.", "Try reinstalling it with: sudo apt install --reinstall scrcpy",
            failure.message() });
        co_return;
    }

    m_isMirroring = true;
    m_mirroringInPocketMode = m_pocketMode;
    m_mirroredSerial = device.serial;
    m_mirroringLabel = settings.label + (safeMode && settings.codecOptions ? " – basic mode" : "");
    m_mirroringNotes = std::move(fitted.notes);
    m_lastError.reset();
    const bool usedTweaks = settings.codecOptions.has_value() && !safeMode;
    m_currentLaunch = Launch { std::move(settings), std::move(device), usedTweaks, m_services.clock->now() };
    emit mirroringChanged();
    emit lastErrorChanged();
    emit changed();
}

void AppState::mirroringEnded(std::int32_t exitCode, const std::string& output, bool stoppedByUser)
{
    m_isMirroring = false;
    m_mirroringInPocketMode = false;
    m_mirroredSerial.reset();
    m_mirroringLabel.reset();
    m_mirroringNotes.clear();
    m_fps.reset();
    const std::optional<Launch> ended = std::exchange(m_currentLaunch, std::nullopt);
    emit mirroringChanged();
    emit fpsChanged();
    emit changed();

    if (!stoppedByUser && exitCode != 0) {
        if (ended && ended->usedTweaks && m_services.clock->now() - ended->startedAt < kSafeModeWindow
            && ScrcpyOutput::looksLikeEncoderError(output) && !ScrcpyOutput::rejectedOption(output)) {
            m_encoderTweaksRejected.insert(phoneKey(ended->target));
            launchTask(launch(ended->settings, ended->target, true));
            return;
        }
        showError(FriendlyError::fromScrcpy(exitCode, output));
    }
    launchTask(refresh());
}

} // namespace tessaly
