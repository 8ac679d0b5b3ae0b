#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <QCoroTask>

#include "mirroring/ScrcpyRunner.h"

#include "controller/Clock.h"
#include "controller/ConnectionQuality.h"
#include "controller/FriendlyError.h"
#include "controller/NetworkInfo.h"
#include "controller/PhoneChoice.h"
#include "controller/Pinger.h"
#include "controller/Presenter.h"
#include "mirroring/ScrcpyCapabilityCache.h"
#include "mirroring/ScrcpyOutput.h"
#include "mirroring/StreamSettings.h"
#include "phone/ADB.h"
#include "platform/Defaults.h"
#include "platform/LoginItem.h"
#include "quickshare/QuickShareReceiver.h"
#include "quickshare/SharePrompter.h"

namespace tessaly {

// The one application-wide controller: everything the menu shows and every user
// operation. It lives on the GUI thread; its operations are coroutines started there.
class AppState : public QObject {
    Q_OBJECT
    // The published fields that have a plain Qt type; the optional ones are read through
    // their getters and announced by the same signals.
    Q_PROPERTY(bool isMirroring READ isMirroring NOTIFY mirroringChanged)
    Q_PROPERTY(bool mirroringInPocketMode READ mirroringInPocketMode NOTIFY mirroringChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(bool isCheckingQuality READ isCheckingQuality NOTIFY qualityChanged)
    Q_PROPERTY(bool pocketMode READ pocketMode WRITE setPocketMode NOTIFY settingsChanged)
    Q_PROPERTY(bool stayAwake READ stayAwake WRITE setStayAwake NOTIFY settingsChanged)
    Q_PROPERTY(bool realKeyboard READ realKeyboard WRITE setRealKeyboard NOTIFY settingsChanged)
    Q_PROPERTY(bool audio READ audio WRITE setAudio NOTIFY settingsChanged)
    Q_PROPERTY(bool showFPS READ showFPS WRITE setShowFPS NOTIFY settingsChanged)
    Q_PROPERTY(bool autoDisableWirelessOnQuit READ autoDisableWirelessOnQuit WRITE
            setAutoDisableWirelessOnQuit NOTIFY settingsChanged)
    Q_PROPERTY(bool quickShareOn READ quickShareOn WRITE setQuickShareOn NOTIFY settingsChanged)
    Q_PROPERTY(QString statusText READ statusTextProperty NOTIFY changed)

public:
    // What the controller is handed: the located tools and the system's services.
    struct Services {
        std::optional<std::string> adbPath;
        std::optional<std::string> scrcpyPath;
        Pinger pinger;
        std::shared_ptr<Defaults> defaults;
        std::shared_ptr<LoginItemService> loginItem;
        std::shared_ptr<NetworkInfo> network;
        std::shared_ptr<Presenter> presenter;
        std::shared_ptr<Clock> clock;
        // Every time limit of the tools and the refresh interval are multiplied by this.
        double timeScale = 1;
        // Quick Share: the receiver (none: receiving is not available), the prompt cards, the
        // Downloads folder (none when it does not exist) and this computer's name.
        std::shared_ptr<QuickShareReceiver> quickShare;
        std::shared_ptr<SharePrompter> sharePrompter;
        std::function<std::optional<std::string>()> downloadsFolder;
        std::function<std::string()> computerName;
        // Screenshots: the Pictures folder (none when there is none to be had) and the local time
        // that names them.
        std::function<std::optional<std::string>()> picturesFolder;
        std::function<QDateTime()> localTime;
    };

    // Stored setting keys.
    static constexpr const char* kSettingsVersion = "settingsVersion";
    static constexpr const char* kPreset = "preset";
    static constexpr const char* kPocketMode = "pocketMode";
    static constexpr const char* kTurnScreenOff = "turnScreenOff";
    static constexpr const char* kStayAwake = "stayAwake";
    static constexpr const char* kRealKeyboard = "realKeyboard";
    static constexpr const char* kAudio = "audio";
    static constexpr const char* kShowFPS = "showFPS";
    static constexpr const char* kAutoDisableWirelessOnQuit = "autoDisableWirelessOnQuit";
    static constexpr const char* kQuickShareReceive = "quickShareReceive";
    static constexpr const char* kLastPhoneIP = "lastPhoneIP";
    static constexpr const char* kLastWasHotspot = "lastWasHotspot";
    // The phone chosen among several: its identity, and its name for saying it is gone.
    static constexpr const char* kChosenPhone = "chosenPhone";
    static constexpr const char* kChosenPhoneName = "chosenPhoneName";

    explicit AppState(Services services, QObject* parent = nullptr);
    ~AppState() override;

    // The application's instance; `install` hands it over once at start-up.
    static AppState& shared();
    static void install(std::unique_ptr<AppState> state);
    // The real tools, settings and system services; the presenter is the caller's.
    static Services systemServices(std::shared_ptr<Presenter> presenter);

    // Published state.
    const std::vector<Device>& devices() const { return m_devices; }
    bool isMirroring() const { return m_isMirroring; }
    const std::optional<std::string>& busyMessage() const { return m_busyMessage; }
    const std::optional<FriendlyError>& lastError() const { return m_lastError; }
    bool launchAtLogin() const { return m_launchAtLogin; }
    const std::optional<ConnectionQuality>& quality() const { return m_quality; }
    bool isCheckingQuality() const { return m_isCheckingQuality; }
    const std::optional<FPSReading>& fps() const { return m_fps; }
    const std::optional<std::string>& mirroringLabel() const { return m_mirroringLabel; }
    // What the running session's scrcpy could not do of what the user asked for.
    const std::vector<std::string>& mirroringNotes() const { return m_mirroringNotes; }
    bool mirroringInPocketMode() const { return m_mirroringInPocketMode; }
    const std::optional<std::string>& macRouterIP() const { return m_macRouterIP; }
    const QuickShareReceiver::Status& quickShareStatus() const { return m_quickShareStatus; }

    // Stored settings.
    QualityPreset preset() const { return m_preset; }
    bool pocketMode() const { return m_pocketMode; }
    bool stayAwake() const { return m_stayAwake; }
    bool realKeyboard() const { return m_realKeyboard; }
    bool audio() const { return m_audio; }
    bool showFPS() const { return m_showFPS; }
    bool autoDisableWirelessOnQuit() const { return m_autoDisableWirelessOnQuit; }
    bool quickShareOn() const { return m_quickShareOn; }
    void setPreset(QualityPreset preset);
    void setPocketMode(bool on);
    void setStayAwake(bool on);
    void setRealKeyboard(bool on);
    void setAudio(bool on);
    void setShowFPS(bool on);
    void setAutoDisableWirelessOnQuit(bool on);
    void setQuickShareOn(bool on);

    int wirelessPort() const { return 5555; }
    const std::optional<ADB>& adb() const { return m_adb; }
    const std::optional<std::string>& scrcpyURL() const { return m_scrcpyPath; }
    bool isFirstLaunch() const { return m_isFirstLaunch; }
    Defaults& defaults() const { return *m_services.defaults; }

    // Derived state.
    bool toolsFound() const { return m_adb.has_value() && m_scrcpyPath.has_value(); }
    bool hasUSBDevice() const;
    bool wirelessActive() const;
    bool isHotspot(const Device& device) const;
    bool isOnHotspot() const;
    std::string statusText() const;
    QString statusTextProperty() const { return QString::fromStdString(statusText()); }
    std::optional<std::string> mirroringLine() const;
    std::optional<std::string> quickShareLine() const;
    static std::optional<Device> pickDevice(const std::vector<Device>& devices);

    // Several phones: the ready ones, and the one the menu acts on. Mirroring, the files
    // window, the wireless operations and the setup guide pick from the chosen phone's links
    // (or from every link when it is not there) by their usual rules.
    std::vector<Phone> phones() const;
    std::optional<std::string> chosenPhone() const;
    void choosePhone(const Phone& phone);
    // The identity of the phone the menu acts on now; none without a ready phone.
    std::optional<std::string> actedOnPhone() const;
    PhoneChoice::Scope phoneScope(const std::vector<Device>& devices) const;
    // Asks the network links their phone's serial where that decides something, then
    // narrows `listed` to the chosen phone's links.
    QCoro::Task<std::vector<Device>> chosenLinks(std::vector<Device> listed);

    // Lifecycle.
    void start();
    QCoro::Task<> refresh();
    void menuOpened();
    void menuClosed();
    bool hasRefreshTimer() const { return m_refreshTimer != nullptr; }
    bool hasRunningTasks() const { return m_runningTasks > 0; }
    void setLaunchAtLogin(bool on);
    void showLastErrorDetails();
    void cleanupForQuit();
    // How quitting stops the files window's copies (handed in when that window's model is made).
    void setFileCopiesStop(std::function<void()> stop) { m_stopFileCopies = std::move(stop); }
    Presenter& presenter() const { return *m_services.presenter; }

    // Errors: remembered as the last error, the busy line cleared, then shown.
    void showError(const FriendlyError& error);

    // Mirroring. `mirror` starts `mirrorNow` unless mirroring or busy.
    void mirror();
    QCoro::Task<> mirrorNow();
    void stopMirroring();
    // The mirroring tool's output of the current or last run, in the details window.
    void showScrcpyOutput();
    ScrcpyRunner& scrcpy() { return *m_scrcpy; }
    const std::optional<std::string>& mirroredSerial() const { return m_mirroredSerial; }
    // Remembered wireless addresses to try when no phone is listed, hotspot first.
    std::vector<std::string> reconnectAddresses() const;
    QCoro::Task<StreamSettings> streamSettings(Device device);
    QCoro::Task<std::optional<std::string>> hardwareEncoder(Device device);
    // What the located scrcpy understands, read once per executable; "newest" without tools.
    QCoro::Task<ScrcpyCapabilities> scrcpyCapabilities();
    ScrcpyCapabilityCache& scrcpyCapabilityCache() { return m_scrcpyCapabilities; }
    QCoro::Task<> launch(StreamSettings settings, Device device, bool safeMode);
    void mirroringEnded(std::int32_t exitCode, const std::string& output, bool stoppedByUser);
    // The model when the list gave one, else the serial.
    static std::string phoneKey(const Device& device);
    static FriendlyError missingToolsError();

    // Link quality. The menu's measurement runs at most once every 20 seconds; the
    // automatic preset accepts one up to 60 seconds old or joins the one under way.
    void checkQualityIfNeeded();
    QCoro::Task<std::optional<ConnectionQuality>> recentQuality(Device device);
    QCoro::Task<ConnectionQuality> measureQuality(Device device, int pingCount);
    ConnectionQuality::Link linkKind(const Device& device) const;

    // Wireless. Each entry starts its task unless the controller is busy.
    void goWireless();
    void connectHotspot();
    void disconnectWireless();
    QCoro::Task<> goWirelessNow();
    QCoro::Task<> connectHotspotNow();
    QCoro::Task<> disconnectWirelessNow();
    // None on success, else the output of the last failed attempt; `tries` >= 1.
    QCoro::Task<std::optional<std::string>> connectOverWiFi(std::string ip, int tries);
    using AdbRun = std::function<QCoro::Task<ProcessResult>(std::vector<std::string>)>;
    // Sends the phone back to USB mode and drops every network link; whether the phone was reached.
    static QCoro::Task<bool> switchOffWireless(
        std::vector<Device> devices, std::optional<std::string> savedIP, int port, AdbRun run);

    // Screenshot of the phone the menu acts on, saved into the Pictures folder.
    void saveScreenshot();
    QCoro::Task<> saveScreenshotNow();
    static FriendlyError phoneNotFoundError(std::string details);
    static FriendlyError waitingForPermissionError();

    // Quick Share: the receiver's callbacks lead to the prompts; the setting switches it.
    void connectQuickShare();
    void applyQuickShare();

signals:
    // Any published value changed; the menu and the icon redraw from it.
    void changed();
    void devicesChanged();
    void mirroringChanged();
    void busyMessageChanged();
    void lastErrorChanged();
    void launchAtLoginChanged();
    void qualityChanged();
    void fpsChanged();
    void macRouterIPChanged();
    void quickShareStatusChanged();
    void settingsChanged();
    // A link measurement finished (joined by the automatic preset).
    void qualityMeasured(const ConnectionQuality& quality);
    // The setup guide should open (on the first launch).
    void setupGuideRequested();
    // Tasks started by the controller have all finished (tests wait for this).
    void idle();

protected:
    // Keeps the changed() contract: assign, then notify when the value really changed.
    template <typename T, typename U> void publish(T& field, U&& value, void (AppState::*signal)())
    {
        if (field == value)
            return;
        field = std::forward<U>(value);
        emit(this->*signal)();
        emit changed();
    }

    void setBusyMessage(std::optional<std::string> message);
    void setDevices(std::vector<Device> devices);
    // Starts a coroutine on the GUI thread and counts it until it ends.
    void launchTask(QCoro::Task<> task);

    QCoro::Task<> startNow();
    // A success alert: the measured quality is stale after a wireless change.
    void showSuccess(const std::string& title, const std::string& text);
    // The device list as adb gives it now (5 s limit); empty when adb fails.
    QCoro::Task<std::vector<Device>> listDevices();
    void storeFlag(const char* key, bool& field, bool value);
    void readSettings();
    // The status line's words for these links.
    std::string statusOf(const std::vector<Device>& devices) const;
    QCoro::Task<> learnReportedSerials(std::vector<Device> listed);

    Services m_services;
    std::optional<ADB> m_adb;
    std::function<void()> m_stopFileCopies;
    std::optional<std::string> m_scrcpyPath;

    std::vector<Device> m_devices;
    bool m_isMirroring = false;
    std::optional<std::string> m_busyMessage;
    std::optional<FriendlyError> m_lastError;
    bool m_launchAtLogin = false;
    std::optional<ConnectionQuality> m_quality;
    bool m_isCheckingQuality = false;
    std::optional<FPSReading> m_fps;
    std::optional<std::string> m_mirroringLabel;
    std::vector<std::string> m_mirroringNotes;
    bool m_mirroringInPocketMode = false;
    std::optional<std::string> m_macRouterIP;
    QuickShareReceiver::Status m_quickShareStatus;

    QualityPreset m_preset = QualityPreset::automatic;
    bool m_pocketMode = false;
    bool m_stayAwake = true;
    bool m_realKeyboard = false;
    bool m_audio = false;
    bool m_showFPS = false;
    bool m_autoDisableWirelessOnQuit = true;
    bool m_quickShareOn = false;
    bool m_isFirstLaunch = false;

    // Mirroring session.
    struct Launch {
        StreamSettings settings;
        Device target;
        bool usedTweaks = false;
        double startedAt = 0;
    };
    std::unique_ptr<ScrcpyRunner> m_scrcpy;
    ScrcpyCapabilityCache m_scrcpyCapabilities;
    std::optional<std::string> m_mirroredSerial;
    std::map<std::string, std::optional<std::string>> m_encoderCache;
    std::set<std::string> m_encoderTweaksRejected;
    std::optional<Launch> m_currentLaunch;
    // The link kind of the measurement under way, while one runs.
    std::optional<ConnectionQuality::Link> m_qualityCheckLink;

    // Serials that network links reported for their phone, and the links being asked.
    PhoneChoice::ReportedSerials m_reportedSerials;
    std::set<std::string> m_askingSerial;

    std::unique_ptr<QTimer> m_refreshTimer;
    int m_runningTasks = 0;
};

} // namespace tessaly
