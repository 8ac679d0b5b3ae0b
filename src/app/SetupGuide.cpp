#include "app/SetupGuide.h"

#include <QTimer>

#include "controller/AppState.h"
#include "tools/ProcessRunner.h"
#include "tools/ToolLocator.h"

namespace tessaly {

namespace {

constexpr double kToolLimit = 5;
// Real versions read like "3.1" or "2.4-rc1"; anything longer is not a version worth showing.
constexpr std::size_t kMaxVersionLength = 32;

bool isPlausibleVersion(std::string_view word)
{
    if (word.empty() || word.size() > kMaxVersionLength)
        return false;
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
    }
    return true;
}

std::vector<std::string_view> words(std::string_view line, std::size_t most)
{
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while (found.size() < most && at < line.size()) {
        const std::size_t start = line.find_first_not_of(' ', at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find(' ', start), line.size());
        found.push_back(line.substr(start, end - start));
        at = end;
    }
    return found;
}

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
    std::string source
        = ToolLocator::builtInEnvironment().empty() ? "from your system" : "included in the app";
    setEngineLine("Found, " + source);
    launch(queryVersion(this, *scrcpy, adb->executable, std::move(source)));
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
    self->setPhone(PhoneStatus::from(ADB::parseDevices(result.stdOut)));
}

QCoro::Task<> SetupGuide::queryVersion(
    QPointer<SetupGuide> self, std::string scrcpy, std::string adb, std::string source)
{
    std::vector<std::string> arguments { "--version" };
    Environment environment = ProcessRunner::safeEnvironment(adb);
    const ProcessResult result = co_await ProcessRunner::run(std::move(scrcpy), std::move(arguments),
        std::move(environment), kToolLimit, ProcessRunner::kDefaultOutputLimit);
    if (!self)
        co_return;
    if (const auto version = scrcpyVersion(result.stdOut))
        self->setEngineLine("scrcpy " + *version + ", " + source);
}

std::optional<std::string> SetupGuide::scrcpyVersion(std::string_view output)
{
    while (!output.empty()) {
        const std::size_t end = std::min(output.find('\n'), output.size());
        const std::string line = ProcessRunner::trimWhitespace(output.substr(0, end));
        output.remove_prefix(std::min(end + 1, output.size()));
        if (line.empty())
            continue;
        const std::vector<std::string_view> fields = words(line, 2);
        if (fields.size() == 2 && fields[0] == "scrcpy" && isPlausibleVersion(fields[1]))
            return std::string(fields[1]);
        return std::nullopt;
    }
    return std::nullopt;
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
