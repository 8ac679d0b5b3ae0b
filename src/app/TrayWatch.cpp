#include "app/TrayWatch.h"

#include <QSystemTrayIcon>

#include "app/TrayIcon.h"

namespace tessaly {

TrayWatch::TrayWatch(Settings settings, QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
{
    if (!m_settings.trayAvailable) {
        // Qt settles once, when it makes its first tray icon, whether the icon goes over D-Bus (a
        // status notifier watcher is on the bus) or XEmbed, and then asks only that one. On the
        // D-Bus path its own answer opens a new bus connection each time: ours asks the same.
        const bool overDBus = TrayIcon::statusNotifierHostPresent();
        m_settings.trayAvailable = [overDBus] {
            return overDBus ? TrayIcon::statusNotifierHostPresent()
                            : QSystemTrayIcon::isSystemTrayAvailable();
        };
    }
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
