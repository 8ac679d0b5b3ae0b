#include "controller/AppState.h"

#include <QCoroSignal>

#include "tools/Validation.h"

namespace tessaly {

namespace {

constexpr double kMenuFreshness = 20;
constexpr double kPresetFreshness = 60;
constexpr int kMenuPings = 12;
constexpr int kPresetPings = 8;

std::optional<std::string> hostOf(const Device& device)
{
    if (const auto hostPort = Validation::privateHostPort(device.serial))
        return hostPort->ip;
    return std::nullopt;
}

} // namespace

ConnectionQuality::Link AppState::linkKind(const Device& device) const
{
    if (device.connection == Device::Connection::usb)
        return ConnectionQuality::Link::usb;
    const auto host = hostOf(device);
    if (host && m_macRouterIP && *host == *m_macRouterIP)
        return ConnectionQuality::Link::hotspot;
    return ConnectionQuality::Link::router;
}

QCoro::Task<ConnectionQuality> AppState::measureQuality(Device device, int pingCount)
{
    const ConnectionQuality::Link link = linkKind(device);
    std::optional<WiFiBand> macBand;
    std::optional<WiFiBand> phoneBand;
    if (link != ConnectionQuality::Link::usb) {
        if (const auto wifi = m_services.network->wifiLink())
            macBand = wifi->band;
        // On a hotspot the phone's band is the computer's own.
        if (link == ConnectionQuality::Link::router && m_adb)
            phoneBand = co_await m_adb->wifiBand(device.serial);
    }
    co_return co_await m_services.pinger.measure(
        link, hostOf(device), phoneBand, macBand, pingCount, *m_services.clock);
}

void AppState::checkQualityIfNeeded()
{
    const std::optional<Device> device = pickDevice(phoneScope(m_devices).devices);
    if (!device) {
        if (m_quality) {
            m_quality.reset();
            emit qualityChanged();
            emit changed();
        }
        return;
    }
    if (m_isCheckingQuality)
        return;
    const ConnectionQuality::Link link = linkKind(*device);
    if (m_quality && m_quality->link == link
        && m_services.clock->now() - m_quality->measuredAt < kMenuFreshness)
        return;

    m_isCheckingQuality = true;
    m_qualityCheckLink = link;
    emit qualityChanged();
    emit changed();
    launchTask([](AppState* self, Device target) -> QCoro::Task<> {
        const ConnectionQuality measured = co_await self->measureQuality(target, kMenuPings);
        self->m_quality = measured;
        self->m_isCheckingQuality = false;
        self->m_qualityCheckLink.reset();
        emit self->qualityChanged();
        emit self->changed();
        emit self->qualityMeasured(measured);
    }(this, *device));
}

QCoro::Task<std::optional<ConnectionQuality>> AppState::recentQuality(Device device)
{
    const ConnectionQuality::Link link = linkKind(device);
    if (m_quality && m_quality->link == link
        && m_services.clock->now() - m_quality->measuredAt < kPresetFreshness)
        co_return m_quality;
    if (m_qualityCheckLink == link) {
        // Join the menu's measurement rather than pinging the phone twice at once.
        const ConnectionQuality joined = co_await qCoro(this, &AppState::qualityMeasured);
        co_return joined;
    }
    const ConnectionQuality measured = co_await measureQuality(device, kPresetPings);
    m_quality = measured;
    emit qualityChanged();
    emit changed();
    co_return measured;
}

} // namespace tessaly
