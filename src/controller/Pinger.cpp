#include "controller/Pinger.h"

#include "controller/Clock.h"
#include "tools/ProcessRunner.h"
#include "tools/ToolLocator.h"
#include "tools/Validation.h"

namespace tessaly {
namespace {

constexpr double kRunTimeLimit = 6.0;

} // namespace

Pinger::Pinger()
    : Pinger(kSystemPing, { "/usr/bin/" })
{
}

Pinger::Pinger(std::string executable, std::vector<std::string> allowedPrefixes)
    : m_executable(std::move(executable))
    , m_allowedPrefixes(std::move(allowedPrefixes))
{
}

std::vector<std::string> Pinger::arguments(const std::string& host, int count)
{
    return { "-n", "-c", std::to_string(count), "-i", "0.1", "-w", "4", host };
}

QCoro::Task<std::optional<PingResult>> Pinger::ping(std::string host, int count) const
{
    if (count < 1 || !Validation::isPrivateLANIPv4(host))
        co_return std::nullopt;
    const auto executable = ToolLocator::verifiedExecutable(m_executable, m_allowedPrefixes);
    if (!executable)
        co_return std::nullopt;
    const ProcessResult result = co_await ProcessRunner::run(*executable, arguments(host, count),
        ProcessRunner::safeEnvironment(std::nullopt), kRunTimeLimit, ProcessRunner::kDefaultOutputLimit);
    // Whatever the exit status: iputils ends with 1 when replies were missing.
    co_return PingResult::parse(result.stdOut, count);
}

QCoro::Task<ConnectionQuality> Pinger::measure(ConnectionQuality::Link link, std::optional<std::string> host,
    std::optional<WiFiBand> phoneBand, std::optional<WiFiBand> macBand, int pingCount,
    const Clock& clock) const
{
    using Link = ConnectionQuality::Link;
    ConnectionQuality quality;
    quality.link = link;
    if (link != Link::usb) {
        quality.macBand = macBand;
        if (link == Link::router)
            quality.phoneBand = phoneBand;
        quality.canPing = host.has_value();
        if (host)
            quality.ping = co_await ping(*host, pingCount);
    }
    quality.measuredAt = clock.now();
    co_return quality;
}

} // namespace tessaly
