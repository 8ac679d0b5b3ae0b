#include "app/SetupGuide.h"

#include <QTimer>

#include "controller/AppState.h"
#include "mirroring/ScrcpyCommandLine.h"
#include "tools/ProcessRunner.h"
#include "tools/ToolLocator.h"

namespace tessaly {

namespace {

constexpr double kToolLimit = 5;

} // namespace

SetupGuide::PhoneStatus SetupGuide::PhoneStatus::from(const std::vector<Device>& devices)
{
    bool wireless = false;
    bool unauthorized = false;
    for (const Device& device : devices) {
        if (device.state == "device") {
            if (device.connection == Device::Connection::usb)
                return ready("USB cable");
            wireless = true;
        } else if (device.state == "unauthorized") {
            unauthorized = true;
        }
    }
    if (wireless)
        return ready("Wi-Fi");
    return unauthorized ? waitingForAllow() : notFound();
}

SetupGuide::SetupGuide(AppState& state, int pollIntervalMs, QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_pollIntervalMs(pollIntervalMs)
    , m_engineFound(state.toolsFound())
{
}

SetupGuide::~SetupGuide() = default;

std::string SetupGuide::phoneLine(const PhoneStatus& phone)
{
    switch (phone.kind) {
    case PhoneStatus::Kind::looking:
        return "Looking for your phone…";
    case PhoneStatus::Kind::notFound:
        return "Waiting for your phone… (some cables only charge: try another one if nothing happens)";
    case PhoneStatus::Kind::waitingForAllow:
        return "Almost there: tap “Allow” on your phone.";
    case PhoneStatus::Kind::ready:
        break;
    }
    return "Your phone is connected (" + phone.link + ").";
}

void SetupGuide::windowOpened()
{
    describeEngine();
    check();
    m_timer = std::make_unique<QTimer>();
    m_timer->setInterval(m_pollIntervalMs);
    connect(m_timer.get(), &QTimer::timeout, this, [this] {
        // A slow adb must not pile up one process per tick.
        if (m_phoneChecksInFlight == 0)
            check();
    });
    m_timer->start();
}

void SetupGuide::windowClosed()
{
    m_timer.reset();
}

void SetupGuide::describeEngine()
{
    const std::optional<std::string>& scrcpy = m_state.scrcpyURL();
    const std::optional<ADB>& adb = m_state.adb();
    if (!scrcpy || !adb) {
        setEngineLine("Not found on this computer");
        return;
    }
    const bool builtIn = !ToolLocator::builtInEnvironment().empty();
    setEngineLine(builtIn ? "Found, included in the app" : "Found, from your system");
    launch(readCapabilities(this, m_state.scrcpyCapabilityCache(), *scrcpy, adb->executable, builtIn));
}

void SetupGuide::check()
{
    const std::optional<ADB>& adb = m_state.adb();
    if (!adb) {
        setPhone(PhoneStatus::notFound());
        return;
    }
    ++m_phoneChecksInFlight;
    launch(checkPhone(this, *adb, ++m_checksStarted));
}

// Both tasks hold copies of what they need and a guarded pointer: the guide may be gone
// by the time the tool answers.

QCoro::Task<> SetupGuide::checkPhone(QPointer<SetupGuide> self, ADB adb, std::uint64_t ticket)
{
    std::vector<std::string> arguments { "devices", "-l" };
    const ProcessResult result = co_await adb.run(std::move(arguments), kToolLimit);
    if (!self)
        co_return;
    --self->m_phoneChecksInFlight;
    if (ticket < self->m_lastCheckShown)
        co_return;
    self->m_lastCheckShown = ticket;
    self->setPhone(PhoneStatus::from(self->m_state.phoneScope(ADB::parseDevices(result.stdOut)).devices));
}

QCoro::Task<> SetupGuide::readCapabilities(
    QPointer<SetupGuide> self, ScrcpyCapabilityCache cache, std::string scrcpy, std::string adb, bool builtIn)
{
    const ScrcpyCapabilities capabilities
        = co_await cache.capabilities(scrcpy, ProcessRunner::safeEnvironment(adb));
    if (!self)
        co_return;
    if (auto line = scrcpyLine(capabilities, scrcpy, builtIn))
        self->setEngineLine(std::move(*line));
}

std::optional<std::string> SetupGuide::scrcpyLine(
    const ScrcpyCapabilities& capabilities, const std::string& executable, bool builtIn)
{
    if (capabilities.version.empty())
        return std::nullopt;
    const std::size_t slash = executable.rfind('/');
    const std::string folder = slash == 0 ? "/" : executable.substr(0, std::min(slash, executable.size()));
    std::string line
        = "scrcpy " + capabilities.version + (builtIn ? " included in the app" : " from " + folder);
    if (!ScrcpyCommandLine::missingEssentials(capabilities).empty())
        return line + ": too old to mirror (Tessaly needs " + ScrcpyCommandLine::kOldestUsable + " or later)";
    line += ": mirroring works";
    for (const std::string& limit : ScrcpyCommandLine::limits(capabilities))
        line += "; " + limit;
    return line;
}

void SetupGuide::launch(QCoro::Task<> task)
{
    ++m_runningTasks;
    QCoro::connect(std::move(task), this, [this] {
        if (--m_runningTasks == 0)
            emit idle();
    });
}

void SetupGuide::setPhone(PhoneStatus phone)
{
    if (m_phone == phone)
        return;
    m_phone = std::move(phone);
    emit phoneChanged();
}

void SetupGuide::setEngineLine(std::string line)
{
    if (m_engineLine == line)
        return;
    m_engineLine = std::move(line);
    emit engineLineChanged();
}

} // namespace tessaly
