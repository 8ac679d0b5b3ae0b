#include "controller/WirelessPairing.h"

#include <algorithm>

#include <QDeadlineTimer>
#include <QRandomGenerator>

#include <QCoroTimer>

#include "controller/AppState.h"
#include "phone/ADBPairing.h"
#include "tools/StoppableRun.h"
#include "tools/ToolAnswers.h"
#include "tools/Validation.h"

namespace tessaly {

namespace {

std::string randomText(std::string_view alphabet, int length)
{
    std::string text;
    for (int i = 0; i < length; ++i)
        text += alphabet[QRandomGenerator::system()->bounded(static_cast<quint32>(alphabet.size()))];
    return text;
}

std::string hostPort(const ServiceBrowser::Found& service)
{
    return service.address + ":" + std::to_string(service.port);
}

// Only a home-network address is ever dialled; the port must be one adb can be given.
bool usable(const ServiceBrowser::Found& service)
{
    return Validation::privateHostPort(hostPort(service)).has_value();
}

FriendlyError noAvahi(const std::string& reason)
{
    return { "Tessaly can’t look for your phone.",
        "Phones are found through Avahi, and " + reason
            + ". Start it (for example `sudo systemctl start avahi-daemon`), then click Try Again.",
        "" };
}

FriendlyError pairFailed(std::string details)
{
    return { "Pairing didn’t work.",
        "Keep the phone on the “Pair device with QR code” screen and click Try Again. If it keeps failing, "
        "switch Wireless debugging off and on.",
        std::move(details) };
}

FriendlyError noConnectService()
{
    return { "Paired, but the phone didn’t offer a connection.",
        "Keep Wireless debugging switched on, then click Try Again.", "" };
}

FriendlyError connectFailed(std::string details)
{
    return { "Paired, but couldn’t connect.",
        "Make sure the computer and phone are on the same Wi-Fi network (not a guest network), then click "
        "Try Again.",
        std::move(details) };
}

} // namespace

WirelessPairing::WirelessPairing(AppState& state, BrowserFactory makeBrowser, QObject* parent)
    : WirelessPairing(state, std::move(makeBrowser), Limits(), parent)
{
}

WirelessPairing::WirelessPairing(AppState& state, BrowserFactory makeBrowser, Limits limits, QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_makeBrowser(std::move(makeBrowser))
    , m_limits(limits)
    , m_current(std::make_shared<std::uint64_t>(0))
{
}

WirelessPairing::~WirelessPairing()
{
    endLookups();
    *m_current = 0;
}

FriendlyError WirelessPairing::adbTooOld(const std::string& version)
{
    return { "This needs adb 30 or later. Your adb is " + version + ".",
        "Pairing by QR code came with adb 30. Download “SDK Platform-Tools” from "
        "developer.android.com/tools/releases/platform-tools and unpack it into ~/Android/Sdk, so that "
        "~/Android/Sdk/platform-tools/adb exists, then restart Tessaly. Tessaly always uses the newest adb "
        "it finds; keep your system’s adb installed, other programs may need it.\nUntil then, “Go "
        "Wireless” with the USB cable still works.",
        "" };
}

bool WirelessPairing::isRunning() const
{
    return m_stage == Stage::checkingAdb || m_stage == Stage::waiting || m_stage == Stage::pairing
        || m_stage == Stage::connecting;
}

std::string WirelessPairing::status() const
{
    switch (m_stage) {
    case Stage::idle:
        return "";
    case Stage::checkingAdb:
        return "Checking adb…";
    case Stage::waiting:
        return "Waiting for your phone to scan…";
    case Stage::pairing:
        return "Pairing…";
    case Stage::connecting:
        return "Connecting…";
    case Stage::connected:
        return "Paired and connected to " + m_model;
    case Stage::failed:
        return m_error ? m_error->title : "";
    }
    return "";
}

std::string WirelessPairing::qrText() const
{
    return m_name.empty() ? std::string() : ADBPairing::qrText(m_name, m_password);
}

void WirelessPairing::start()
{
    cancel();
    m_error.reset();
    m_needsNewerAdb = false;
    m_model.clear();
    m_name = "tessaly-" + randomText("abcdefghijklmnopqrstuvwxyz0123456789", 10);
    m_password = randomText("ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789", 12);
    if (!m_state.adb()) {
        fail(AppState::missingToolsError());
        return;
    }
    // An adb whose age is known already gets the explanation at once, without a code to scan.
    const std::vector<std::string> versionArguments { "version" };
    if (const auto known = ToolAnswers::remembered(m_state.adb()->executable, versionArguments);
        known && refuseOldAdb(*known))
        return;
    m_run = std::make_shared<StoppableRun>();
    const std::uint64_t generation = *m_current;
    QCoro::connect(attempt(generation), this, [] {});
}

void WirelessPairing::cancel()
{
    *m_current = ++m_generation;
    endLookups();
    m_phone.reset();
    m_connectServices.clear();
    m_refusedAddress.reset();
    m_resolveFailed = false;
    m_browseFailure.reset();
    setStage(Stage::idle);
}

void WirelessPairing::endLookups()
{
    if (m_run)
        m_run->stop();
    if (m_browser)
        m_browser->stop();
    m_browser.reset();
}

void WirelessPairing::setStage(Stage stage)
{
    m_stage = stage;
    emit changed();
}

void WirelessPairing::fail(FriendlyError error, bool needsNewerAdb)
{
    endLookups();
    m_error = std::move(error);
    m_needsNewerAdb = needsNewerAdb;
    setStage(Stage::failed);
}

bool WirelessPairing::refuseOldAdb(const ProcessResult& version)
{
    // An unreadable version is given the benefit of the doubt; `pair` itself tells later.
    const auto readable = ADBPairing::parseVersion(version.stdOut);
    if (!readable || ADBPairing::versionCanPair(*readable) != false)
        return false;
    fail(adbTooOld(*readable), true);
    return true;
}

QCoro::Task<bool> WirelessPairing::checkAdb(std::uint64_t generation)
{
    const std::shared_ptr<std::uint64_t> current = m_current;
    const std::string adb = m_state.adb()->executable;
    std::vector<std::string> arguments { "version" };
    std::optional<ProcessResult> answer = ToolAnswers::remembered(adb, arguments);
    if (!answer) {
        std::shared_ptr<StoppableRun> run = m_run;
        answer
            = co_await run->run(adb, arguments, ProcessRunner::safeEnvironment(adb), m_limits.versionTimeout);
        if (*current != generation)
            co_return false;
        ToolAnswers::remember(adb, arguments, *answer);
    }
    co_return !refuseOldAdb(*answer);
}

QCoro::Task<> WirelessPairing::attempt(std::uint64_t generation)
{
    const std::shared_ptr<std::uint64_t> current = m_current;
    const auto gone = [current, generation] { return *current != generation; };
    std::shared_ptr<StoppableRun> run = m_run;
    const std::string adb = m_state.adb()->executable;
    const std::string password = m_password;

    setStage(Stage::checkingAdb);
    if (!co_await checkAdb(generation))
        co_return;

    m_browser = m_makeBrowser();
    ServiceBrowser::Handlers handlers;
    // Avahi calls from its own thread; everything it says is handled on this one.
    handlers.resolved = [this, generation](const ServiceBrowser::Found& service) {
        QMetaObject::invokeMethod(
            this, [this, generation, service] { resolved(generation, service); }, Qt::QueuedConnection);
    };
    handlers.unresolved = [this, generation](const std::string& type, const std::string& name) {
        QMetaObject::invokeMethod(
            this, [this, generation, type, name] { unresolved(generation, type, name); },
            Qt::QueuedConnection);
    };
    handlers.failed = [this, generation](const std::string& reason) {
        QMetaObject::invokeMethod(
            this, [this, generation, reason] { browseFailed(generation, reason); }, Qt::QueuedConnection);
    };
    setStage(Stage::waiting);
    m_browser->browse({ ADBPairing::kPairingType, ADBPairing::kConnectType }, std::move(handlers));

    const QDeadlineTimer scanDeadline(static_cast<qint64>(m_limits.scanWait * 1000));
    while (!m_phone) {
        if (m_browseFailure)
            co_return fail(noAvahi(*m_browseFailure));
        if (scanDeadline.hasExpired())
            co_return fail(nothingUsableArrived());
        co_await QCoro::sleepFor(std::chrono::milliseconds(m_limits.pollMs));
        if (gone())
            co_return;
    }
    const ServiceBrowser::Found phone = *m_phone;

    setStage(Stage::pairing);
    // Given on standard input, as adb asks for it without one: the process list, which every
    // user of the computer can read, never shows it.
    std::vector<std::string> pairArguments { "pair", hostPort(phone) };
    const ProcessResult paired = co_await run->run(adb, std::move(pairArguments),
        ProcessRunner::safeEnvironment(adb), m_limits.pairTimeout, password + "\n");
    if (gone())
        co_return;
    std::string pairOutput = ADBPairing::withoutSecret(paired.combinedOutput(), password);
    if (ADBPairing::isUnknownCommand(pairOutput)) {
        const auto version = ToolAnswers::remembered(adb, { "version" });
        co_return fail(
            adbTooOld(ADBPairing::parseVersion(version ? version->stdOut : "").value_or("older than 30")),
            true);
    }
    if (paired.timedOut || !ADBPairing::pairSucceeded(pairOutput))
        co_return fail(pairFailed(std::move(pairOutput)));

    // The same phone announces its connect service on the address it paired from.
    setStage(Stage::connecting);
    const QDeadlineTimer connectDeadline(static_cast<qint64>(m_limits.connectServiceWait * 1000));
    std::optional<ServiceBrowser::Found> service = connectServiceAt(phone.address);
    while (!service) {
        if (connectDeadline.hasExpired())
            co_return fail(noConnectService());
        co_await QCoro::sleepFor(std::chrono::milliseconds(m_limits.pollMs));
        if (gone())
            co_return;
        service = connectServiceAt(phone.address);
    }
    const std::string serial = hostPort(*service);
    std::vector<std::string> connectArguments { "connect", serial };
    const ProcessResult connected = co_await run->run(
        adb, std::move(connectArguments), ProcessRunner::safeEnvironment(adb), m_limits.connectTimeout);
    if (gone())
        co_return;
    std::string connectOutput = ADBPairing::withoutSecret(connected.combinedOutput(), password);
    if (!ADB::connectSucceeded(connectOutput))
        co_return fail(connectFailed(std::move(connectOutput)));
    endLookups();

    // Remembered and listed as a phone that went wireless over the cable would be.
    m_state.defaults().writeString(AppState::kLastPhoneIP, phone.address);
    m_state.defaults().writeBool(AppState::kLastWasHotspot, false);
    co_await m_state.refresh();
    if (gone())
        co_return;
    m_model = "your phone";
    for (const Device& device : m_state.devices()) {
        if (device.serial == serial) {
            // adb lists the model with its spaces turned into underscores.
            m_model = AppState::phoneKey(device);
            std::replace(m_model.begin(), m_model.end(), '_', ' ');
        }
    }
    setStage(Stage::connected);
}

void WirelessPairing::resolved(std::uint64_t generation, const ServiceBrowser::Found& service)
{
    if (generation != m_generation)
        return;
    if (service.type == ADBPairing::kPairingType) {
        // Another computer's code, or an earlier one of ours: not the phone we are waiting for.
        if (service.name != m_name)
            return;
        if (!usable(service))
            m_refusedAddress = service.address;
        else if (!m_phone)
            m_phone = service;
    } else if (service.type == ADBPairing::kConnectType && usable(service)) {
        m_connectServices.push_back(service);
    }
}

void WirelessPairing::unresolved(std::uint64_t generation, const std::string& type, const std::string& name)
{
    if (generation == m_generation && type == ADBPairing::kPairingType && name == m_name)
        m_resolveFailed = true;
}

void WirelessPairing::browseFailed(std::uint64_t generation, const std::string& reason)
{
    if (generation == m_generation)
        m_browseFailure = reason;
}

std::optional<ServiceBrowser::Found> WirelessPairing::connectServiceAt(const std::string& address) const
{
    // The latest announcement wins: the port changes whenever wireless debugging restarts.
    for (auto it = m_connectServices.rbegin(); it != m_connectServices.rend(); ++it)
        if (it->address == address)
            return *it;
    return std::nullopt;
}

FriendlyError WirelessPairing::nothingUsableArrived() const
{
    if (m_refusedAddress)
        return { "Your phone isn’t on a home network.",
            "It answered from " + *m_refusedAddress
                + ", which isn’t a private home-network address, so Tessaly didn’t pair with it. Join the "
                  "phone and this computer to the same home Wi-Fi, then click Try Again.",
            "" };
    if (m_resolveFailed)
        return { "Your phone scanned the code, but its address couldn’t be found.",
            "Make sure the phone and this computer are on the same Wi-Fi network (not a guest network), then "
            "click Try Again.",
            "" };
    return { "Your phone didn’t answer within 2 minutes.",
        "On the phone, open Developer options → Wireless debugging, tap “Pair device with QR code” and scan "
        "the code. The phone and this computer must be on the same Wi-Fi network (not a guest network).",
        "" };
}

} // namespace tessaly
