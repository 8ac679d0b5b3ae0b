#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QCoroTask>

#include "controller/ConnectionQuality.h"

namespace tessaly {

class Clock;

// Measures the link to the phone with the system's ping tool (iputils). Runs it only
// towards a private home-network address, and only from the trusted system folder.
class Pinger {
public:
    static constexpr const char* kSystemPing = "/usr/bin/ping";

    Pinger();
    // Another ping executable, accepted only under `allowedPrefixes` (each ending in "/").
    Pinger(std::string executable, std::vector<std::string> allowedPrefixes);

    // `count` echo requests 0.1 s apart, given up after 4 s. None when the host is not a
    // private home-network address or the tool is not trusted; nothing is run then.
    QCoro::Task<std::optional<PingResult>> ping(std::string host, int count) const;

    // One measurement of the link to a phone: nothing is run for a cable, and the phone
    // is pinged only when its serial gave a private address (`host`). The phone's band
    // counts only through the home router. Stamped with `clock`'s time when done.
    QCoro::Task<ConnectionQuality> measure(ConnectionQuality::Link link, std::optional<std::string> host,
        std::optional<WiFiBand> phoneBand, std::optional<WiFiBand> macBand, int pingCount,
        const Clock& clock) const;

    // "-n" numeric output, "-c" count, "-i" interval, "-w" deadline in seconds.
    static std::vector<std::string> arguments(const std::string& host, int count);

private:
    std::string m_executable;
    std::vector<std::string> m_allowedPrefixes;
};

} // namespace tessaly
