#include "app/TrayWatch.h"

#include <QSystemTrayIcon>

namespace tessaly {

TrayWatch::TrayWatch(Settings settings, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
{
    if (!m_settings.trayAvailable)
        m_settings.trayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
    connect(&m_timer, &QTimer::timeout, this, &TrayWatch::poll);
    m_timer.start(m_settings.pollMs);
    poll();
}

void TrayWatch::poll()
{
    if (m_settings.trayAvailable()) {
        m_missingFor.invalidate();
        if (std::exchange(m_missing, false))
            emit trayMissingChanged(false);
        return;
    }
    if (!m_missingFor.isValid())
        m_missingFor.start();
    if (!m_missing && m_missingFor.elapsed() >= m_settings.graceMs) {
        m_missing = true;
        emit trayMissingChanged(true);
    }
}

} // namespace tessaly
