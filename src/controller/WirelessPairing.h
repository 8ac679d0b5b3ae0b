#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include <QCoroTask>

#include "controller/FriendlyError.h"
#include "platform/ServiceBrowser.h"
#include "tools/ProcessRunner.h"

namespace tessaly {

class AppState;
class StoppableRun;

// Pairs a phone for wireless debugging without a cable (Android 11 and later): the phone
// scans a code holding a fresh service name and password, announces a pairing service under
// that name, and `adb pair` and `adb connect` make it a network phone like one that went
// wireless over the cable. Lives on the GUI thread.
class WirelessPairing : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString status READ statusProperty NOTIFY changed)

public:
    enum class Stage { idle, checkingAdb, waiting, pairing, connecting, connected, failed };

    // Seconds, except `pollMs`.
    struct Limits {
        double scanWait = 120; // for the phone to scan the code and announce itself
        double connectServiceWait = 30; // for the paired phone's connect service
        double versionTimeout = 5;
        double pairTimeout = 20;
        double connectTimeout = 8;
        int pollMs = 100;
    };
    using BrowserFactory = std::function<std::unique_ptr<ServiceBrowser>()>;

    WirelessPairing(AppState& state, BrowserFactory makeBrowser, QObject* parent = nullptr);
    WirelessPairing(AppState& state, BrowserFactory makeBrowser, Limits limits, QObject* parent = nullptr);
    ~WirelessPairing() override;

    // A new attempt with a new name and password; any attempt under way ends first.
    void start();
    // Stops looking for the phone and ends any adb command under way.
    void cancel();

    Stage stage() const { return m_stage; }
    bool isRunning() const;
    // The line the window shows: what happens now, or the error's title.
    std::string status() const;
    QString statusProperty() const { return QString::fromStdString(status()); }
    // The QR code's text; empty before the first start.
    std::string qrText() const;
    const std::string& serviceName() const { return m_name; }
    // How long the phone has to scan a code, in seconds.
    double codeLifetime() const { return m_limits.scanWait; }
    const std::optional<FriendlyError>& error() const { return m_error; }
    // The failure is this adb's age: pairing needs platform-tools 30 or later.
    bool needsNewerAdb() const { return m_needsNewerAdb; }

    static FriendlyError adbTooOld(const std::string& version);

signals:
    void changed();

private:
    QCoro::Task<> attempt(std::uint64_t generation);
    QCoro::Task<bool> checkAdb(std::uint64_t generation);
    // Fails with the explanation when `version` (adb's answer) is too old for pairing.
    bool refuseOldAdb(const ProcessResult& version);
    void resolved(std::uint64_t generation, const ServiceBrowser::Found& service);
    void unresolved(std::uint64_t generation, const std::string& type, const std::string& name);
    void browseFailed(std::uint64_t generation, const std::string& reason);
    std::optional<ServiceBrowser::Found> connectServiceAt(const std::string& address) const;
    FriendlyError nothingUsableArrived() const;
    void setStage(Stage stage);
    void fail(FriendlyError error, bool needsNewerAdb = false);
    void endLookups();

    AppState& m_state;
    BrowserFactory m_makeBrowser;
    const Limits m_limits;

    // Every attempt has its own number; a suspended attempt that finds another number (or the
    // object gone, number 0) ends without touching anything.
    std::uint64_t m_generation = 0;
    std::shared_ptr<std::uint64_t> m_current;

    Stage m_stage = Stage::idle;
    std::string m_name;
    std::string m_password;
    std::string m_model;
    std::optional<FriendlyError> m_error;
    bool m_needsNewerAdb = false;

    std::unique_ptr<ServiceBrowser> m_browser;
    std::shared_ptr<StoppableRun> m_run;
    std::optional<ServiceBrowser::Found> m_phone;
    std::vector<ServiceBrowser::Found> m_connectServices;
    std::optional<std::string> m_refusedAddress;
    bool m_resolveFailed = false;
    std::optional<std::string> m_browseFailure;
};

} // namespace tessaly
