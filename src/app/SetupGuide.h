#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QObject>
#include <QPointer>

#include <QCoroTask>

#include "mirroring/ScrcpyCapabilityCache.h"
#include "phone/ADB.h"

class QTimer;

namespace tessaly {

class AppState;

// The setup guide's model: whether the mirroring engine is installed and how far the phone
// is. While the window is open it looks at the phone every two seconds.
class SetupGuide : public QObject {
    Q_OBJECT

public:
    // What the guide knows about the phone.
    struct PhoneStatus {
        enum class Kind { ready, looking, notFound, waitingForAllow };

        Kind kind = Kind::looking;
        std::string link; // ready only: "USB cable" or "Wi-Fi"

        static PhoneStatus ready(std::string link) { return { Kind::ready, std::move(link) }; }
        static PhoneStatus looking() { return { Kind::looking, {} }; }
        static PhoneStatus notFound() { return { Kind::notFound, {} }; }
        static PhoneStatus waitingForAllow() { return { Kind::waitingForAllow, {} }; }

        // A phone in state "device" makes it ready, a USB one winning over a wireless one;
        // otherwise an "unauthorized" phone means it waits for "Allow".
        static PhoneStatus from(const std::vector<Device>& devices);

        bool operator==(const PhoneStatus&) const = default;
    };

    static constexpr int kPollIntervalMs = 2000;

    explicit SetupGuide(AppState& state, int pollIntervalMs = kPollIntervalMs, QObject* parent = nullptr);
    ~SetupGuide() override;

    // Published state.
    const PhoneStatus& phone() const { return m_phone; }
    const std::string& engineLine() const { return m_engineLine; }
    // Both tools were located when the guide was created; fixed for its lifetime.
    bool engineFound() const { return m_engineFound; }

    // The phone step's status line.
    std::string phoneLine() const { return phoneLine(m_phone); }
    static std::string phoneLine(const PhoneStatus& phone);
    // Mirroring can start from the guide: the phone is ready and the engine is there.
    bool canMirror() const { return m_engineFound && m_phone.kind == PhoneStatus::Kind::ready; }

    // Describes the engine, checks the phone at once and (re)starts the poll.
    void windowOpened();
    // Stops the poll; nothing else.
    void windowClosed();
    void describeEngine();
    void check();

    // The poll timer, present only between windowOpened() and windowClosed().
    const QTimer* pollTimer() const { return m_timer.get(); }
    bool hasRunningChecks() const { return m_runningTasks > 0; }

    // The engine line for a scrcpy run from `executable` ("included in the app" when built in):
    // its version and folder, and what it cannot do ("scrcpy 2.4 from /usr/bin: mirroring works;
    // mouse hover needs 2.6"); none when its help gave no version.
    static std::optional<std::string> scrcpyLine(
        const ScrcpyCapabilities& capabilities, const std::string& executable, bool builtIn);

signals:
    void phoneChanged();
    void engineLineChanged();
    // Every check and version query started has ended (tests wait for this).
    void idle();

private:
    static QCoro::Task<> checkPhone(QPointer<SetupGuide> self, ADB adb, std::uint64_t ticket);
    static QCoro::Task<> readCapabilities(QPointer<SetupGuide> self, ScrcpyCapabilityCache cache,
        std::string scrcpy, std::string adb, bool builtIn);
    void launch(QCoro::Task<> task);
    void setPhone(PhoneStatus phone);
    void setEngineLine(std::string line);

    AppState& m_state;
    const int m_pollIntervalMs;
    const bool m_engineFound;
    PhoneStatus m_phone;
    std::string m_engineLine = "Checking…";
    std::unique_ptr<QTimer> m_timer;

    int m_runningTasks = 0;
    int m_phoneChecksInFlight = 0;
    // Checks may overlap when adb is slow: only an answer newer than the last one shown counts.
    std::uint64_t m_checksStarted = 0;
    std::uint64_t m_lastCheckShown = 0;
};

} // namespace tessaly
