#pragma once

#include <functional>
#include <optional>
#include <utility>

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace tessaly {

// The desktop's notification service. Every call answers later, on this thread: a slow or
// missing server never holds up the caller. Tests hand in a scripted one.
class DesktopNotifications : public QObject {
    Q_OBJECT

public:
    struct Notice {
        QString summary;
        // Plain text; line breaks start new lines.
        QString body;
        // Action key and label, in the order they are shown.
        QList<std::pair<QString, QString>> actions;
        // "transfer", "transfer.complete" or "transfer.error".
        QString category;
        // Percent for a progress bar, or -1 for none.
        int progress = -1;
        // -1: as long as the server likes; 0: until answered or closed.
        int expireMs = -1;

        bool operator==(const Notice&) const = default;
    };

    using QObject::QObject;

    // What the server offers ("actions", "body-markup", ...); nullopt when no server answers.
    virtual void capabilities(std::function<void(std::optional<QStringList>)> answer) = 0;
    // Shows `notice` in place of notification `replaces` (0: as a new one) and answers its id,
    // or nullopt when the server refused or did not answer.
    virtual void notify(
        quint32 replaces, const Notice& notice, std::function<void(std::optional<quint32> id)> shown)
        = 0;
    virtual void close(quint32 id) = 0;

signals:
    // The user chose the action `key` on notification `id`.
    void actionInvoked(quint32 id, const QString& key);
    // The notification went away: expired, dismissed by the user, or closed on request.
    void closed(quint32 id);
};

} // namespace tessaly
