#include "phone/ADB.h"

#include "phone/ScreenImage.h"
#include "tools/Text.h"
#include "tools/Validation.h"

namespace tessaly {

namespace {

constexpr double kConnectTimeout = 8.0;
constexpr double kShellTimeout = 5.0;
constexpr double kScreencapTimeout = 20.0;

bool contains(const std::string& text, std::string_view phrase)
{
    return text.find(phrase) != std::string::npos;
}

} // namespace

// Each command copies what it needs before its first suspension: the ADB value it was called
// on may be gone by the time the tool answers.

QCoro::Task<ProcessResult> ADB::run(std::vector<std::string> arguments, double timeoutSeconds) const
{
    std::string adbPath = executable;
    Environment environment = ProcessRunner::safeEnvironment(adbPath);
    co_return co_await ProcessRunner::run(std::move(adbPath), std::move(arguments), std::move(environment),
        timeoutSeconds * timeScale, ProcessRunner::kDefaultOutputLimit);
}

QCoro::Task<ProcessRunner::RawRun> ADB::screencap(std::string serial) const
{
    if (!Validation::isSafeSerial(serial)) {
        ProcessRunner::RawRun refused;
        refused.result.exitCode = -1;
        refused.result.stdErr = "Refused: that is not a phone's serial.";
        co_return refused;
    }
    // exec-out, not shell: a shell's terminal would turn the picture's line feeds into CR LF.
    std::vector<std::string> arguments { "-s", std::move(serial), "exec-out", "screencap", "-p" };
    std::string adbPath = executable;
    Environment environment = ProcessRunner::safeEnvironment(adbPath);
    co_return co_await ProcessRunner::runRaw(std::move(adbPath), std::move(arguments), std::move(environment),
        kScreencapTimeout * timeScale, ScreenImage::kMaxBytes);
}

QCoro::Task<ADB::ConnectResult> ADB::connect(std::string ip, int port) const
{
    if (!Validation::isPrivateLANIPv4(ip) || port < 1024 || port > 65535) {
        co_return ConnectResult { false,
            "Refused: " + ip + ":" + std::to_string(port) + " is not a private home-network address." };
    }
    std::vector<std::string> arguments { "connect", ip + ":" + std::to_string(port) };
    const ProcessResult result = co_await run(std::move(arguments), kConnectTimeout);
    std::string output = result.combinedOutput();
    const bool ok = connectSucceeded(output);
    co_return ConnectResult { ok, std::move(output) };
}

bool ADB::connectSucceeded(std::string_view output)
{
    const std::string text = asciiLowercase(output);
    // "already connected to ..." counts as success; the exit status says nothing reliable here.
    return contains(text, "connected to") && !contains(text, "failed") && !contains(text, "unable")
        && !contains(text, "cannot");
}

QCoro::Task<std::optional<std::string>> ADB::wifiIP(std::string serial) const
{
    if (!Validation::isSafeSerial(serial))
        co_return std::nullopt;
    const ADB self = *this;
    std::vector<std::string> routeQuery { "-s", serial, "shell", "ip", "route" };
    const ProcessResult routes = co_await self.run(std::move(routeQuery), kShellTimeout);
    if (auto address = parseIPFromRoute(routes.stdOut))
        co_return address;
    // No wlan route (the phone may be on mobile data): ask the interface itself.
    std::vector<std::string> addressQuery { "-s", serial, "shell", "ip", "-f", "inet", "addr", "show",
        "wlan0" };
    const ProcessResult addresses = co_await self.run(std::move(addressQuery), kShellTimeout);
    co_return parseIPFromAddr(addresses.stdOut);
}

QCoro::Task<std::optional<WiFiBand>> ADB::wifiBand(std::string serial) const
{
    if (!Validation::isSafeSerial(serial))
        co_return std::nullopt;
    std::vector<std::string> statusQuery { "-s", serial, "shell", "cmd", "wifi", "status" };
    const ProcessResult status = co_await run(std::move(statusQuery), kShellTimeout);
    const auto frequency = parseWifiFrequency(status.stdOut);
    if (!frequency)
        co_return std::nullopt;
    co_return wifiBandFromFrequencyMHz(*frequency);
}

} // namespace tessaly
