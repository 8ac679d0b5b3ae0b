#pragma once

#include <QDBusConnection>

#include "platform/DesktopNotifications.h"

namespace tessaly {

// org.freedesktop.Notifications on a D-Bus connection (the session bus unless a test hands in
// a private one).
class FreedesktopNotifications final : public DesktopNotifications {
    Q_OBJECT

public:
    static constexpr int kCallTimeoutMs = 10'000;

    explicit FreedesktopNotifications(
        QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    void capabilities(std::function<void(std::optional<QStringList>)> answer) override;
    void notify(quint32 replaces, const Notice& notice,
        std::function<void(std::optional<quint32> id)> shown) override;
    void close(quint32 id) override;

private slots:
    void onActionInvoked(uint id, const QString& key);
    void onClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
};

} // namespace tessaly
