#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace tessaly {

// Whether the desktop has a tray to show the icon in. Qt says so only when asked, so it is
// asked every `pollMs`; a tray counts as missing once none has been seen for `graceMs`, which
// leaves a panel that starts with the session the time to put its tray up.
class TrayWatch : public QObject {
    Q_OBJECT

public:
    using Probe = std::function<bool()>;
    struct Settings {
        // None: the answer Qt's tray icon goes by (a status notifier watcher, or an XEmbed tray).
        Probe trayAvailable;
        int graceMs = 5000;
        int pollMs = 1000;
    };

    explicit TrayWatch(Settings settings, QObject* parent = nullptr);

    bool trayMissing() const { return m_missing; }

signals:
    void trayMissingChanged(bool missing);

private:
    void poll();

    Settings m_settings;
    QTimer m_timer;
    QElapsedTimer m_missingFor;
    bool m_missing = false;
};

} // namespace tessaly
