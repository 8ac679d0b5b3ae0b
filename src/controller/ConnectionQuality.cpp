#include "controller/ConnectionQuality.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace tessaly {
namespace {

using Link = ConnectionQuality::Link;
using Rating = ConnectionQuality::Rating;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The characters right after `key` that satisfy `accept`; empty when `key` is absent.
template <typename Accept>
std::string_view runAfter(std::string_view line, std::string_view key, Accept accept)
{
    const auto at = line.find(key);
    if (at == std::string_view::npos)
        return {};
    const auto start = at + key.size();
    auto end = start;
    while (end < line.size() && accept(line[end]))
        ++end;
    return line.substr(start, end - start);
}

// The whole run as a number, or `fallback` when it is empty or does not read cleanly.
template <typename Number> Number readWhole(std::string_view run, Number fallback)
{
    Number value {};
    const auto [end, error] = std::from_chars(run.data(), run.data() + run.size(), value);
    if (run.empty() || error != std::errc() || end != run.data() + run.size())
        return fallback;
    return value;
}

std::string format(const char* pattern, double value)
{
    char text[64];
    const int length = std::snprintf(text, sizeof text, pattern, value);
    if (length < 0)
        return {};
    return std::string(text, std::min<std::size_t>(std::size_t(length), sizeof text - 1));
}

bool is2_4(const std::optional<WiFiBand>& band)
{
    return band == WiFiBand::ghz2_4;
}

std::string bandText(const std::optional<WiFiBand>& band)
{
    return band ? std::string(rawValue(*band)) : std::string("?");
}

} // namespace

std::optional<double> PingResult::medianMs() const
{
    if (times.empty())
        return std::nullopt;
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
}

double PingResult::jitterMs() const
{
    if (times.size() < 2)
        return 0;
    double total = 0;
    for (std::size_t i = 0; i + 1 < times.size(); ++i)
        total += std::fabs(times[i + 1] - times[i]);
    return total / double(times.size() - 1);
}

double PingResult::lossPercent() const
{
    const long long lost = static_cast<long long>(sent) - static_cast<long long>(times.size());
    // With two requests or fewer every one is a warm-up: nothing counted, nothing lost.
    if (sent <= 2 || lost <= 1)
        return 0;
    return double(lost - 2) / double(sent - 2) * 100.0;
}

PingResult PingResult::parse(std::string_view output, int sent)
{
    PingResult result;
    result.sent = sent;
    std::size_t start = 0;
    while (start < output.size()) {
        auto end = output.find('\n', start);
        if (end == std::string_view::npos)
            end = output.size();
        const std::string_view line = output.substr(start, end - start);
        start = end + 1;
        if (line.find("icmp_seq=") == std::string_view::npos || line.find("time=") == std::string_view::npos)
            continue;
        const long long seq = readWhole(runAfter(line, "icmp_seq=", isDigit), 0LL);
        const double time
            = readWhole(runAfter(line, "time=", [](char c) { return isDigit(c) || c == '.'; }), 0.0);
        if (seq == 1 || seq == 2)
            continue;
        result.times.push_back(time);
    }
    return result;
}

ConnectionQuality::Rating ConnectionQuality::rating() const
{
    if (link == Link::usb)
        return Rating::good;
    const bool phoneOn2_4 = link == Link::router && is2_4(phoneBand);
    if (!canPing)
        return phoneOn2_4 || is2_4(macBand) ? Rating::ok : Rating::good;

    const auto median = ping ? ping->medianMs() : std::nullopt;
    if (!median)
        return Rating::poor;
    const double jitter = ping->jitterMs();
    const double loss = ping->sent >= 1 ? ping->lossPercent() : 0.0;
    if (*median > 30 || jitter > 30 || loss >= 10)
        return Rating::poor;
    if (phoneOn2_4 || is2_4(macBand) || *median > 10 || jitter > 10 || loss > 0)
        return Rating::ok;
    return Rating::good;
}

bool ConnectionQuality::isOn2_4GHz() const
{
    switch (link) {
    case Link::usb:
        return false;
    case Link::hotspot:
        return is2_4(macBand);
    case Link::router:
        return is2_4(phoneBand) || is2_4(macBand);
    }
    return false;
}

std::string ConnectionQuality::summaryLine() const
{
    if (link == Link::usb)
        return "Connection: Good · USB cable";
    std::string line = "Connection: " + std::string(ratingWord(rating()));
    if (!canPing)
        return line + " · ping not available";
    const auto median = ping ? ping->medianMs() : std::nullopt;
    if (!median)
        return line + " · phone didn't answer ping";
    line += format(" · ping %.0f ms", *median);
    line += format(" · jitter %.0f ms", ping->jitterMs());
    if (ping->sent >= 1 && ping->lossPercent() > 0)
        line += format(" · %.0f%% lost", ping->lossPercent());
    return line;
}

std::optional<std::string> ConnectionQuality::bandLine() const
{
    switch (link) {
    case Link::usb:
        return std::nullopt;
    case Link::hotspot:
        if (!macBand)
            return std::nullopt;
        return "Hotspot link: " + std::string(rawValue(*macBand)) + " (direct)";
    case Link::router:
        return "Wi-Fi: phone " + bandText(phoneBand) + " · computer " + bandText(macBand) + " (via router)";
    }
    return std::nullopt;
}

bool ConnectionQuality::showsTip() const
{
    if (link == Link::usb)
        return false;
    const auto median = ping ? ping->medianMs() : std::nullopt;
    return isOn2_4GHz() || !median || *median > 15 || ping->jitterMs() > 15;
}

std::string_view ratingWord(ConnectionQuality::Rating rating)
{
    switch (rating) {
    case Rating::good:
        return "Good";
    case Rating::ok:
        return "OK";
    case Rating::poor:
        return "Poor";
    }
    return "Poor";
}

} // namespace tessaly
