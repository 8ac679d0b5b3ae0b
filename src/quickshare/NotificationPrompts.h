#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include <QObject>
#include <QStringList>
#include <QUuid>

#include "platform/DesktopNotifications.h"
#include "quickshare/ShareCardText.h"
#include "quickshare/SharePrompter.h"

namespace tessaly {

class DesktopLauncher;

// The share prompts as the desktop's own notifications, for sessions where no window can place
// itself or stay on top (Wayland). The same questions, answers and outcomes as the cards; a
// server that offers no actions, or no server at all, leaves the share to the cards.
// Main thread only.
class NotificationPrompts : public QObject, public SharePrompter {
    Q_OBJECT

public:
    using Schedule = std::function<void(int delayMs, std::function<void()> action)>;

    static constexpr int kCloseDelayMs = 30'000;

    // Wayland by the session's word (XDG_SESSION_TYPE) or by Qt's platform ("wayland-egl" too).
    static bool suitsSession(const QString& sessionType, const QString& platformName);
    // The application's notification prompts, made on first use, falling back to the shared cards.
    static NotificationPrompts& shared();

    // Without a schedule, a real timer closes finished notifications.
    NotificationPrompts(DesktopNotifications& server, SharePrompter& cards, DesktopLauncher& desktop,
        Schedule schedule = {}, QObject* parent = nullptr);
    // Takes its notifications down: an Accept left on screen would answer nobody.
    ~NotificationPrompts() override;
    void withdrawAll();

    void ask(const IncomingShare& share, std::function<void(bool accept)> answer,
        std::function<void()> stop) override;
    void progress(const QUuid& id, std::int64_t receivedBytes) override;
    void finished(const QUuid& id, const ShareResult& result) override;

private:
    struct Entry {
        IncomingShare share;
        std::function<void(bool)> answer;
        std::function<void()> stop;
        std::uint64_t generation = 0;
        ShareCardPhase phase = ShareCardPhase::asking();
        std::int64_t receivedBytes = 0;
        int percent = -1;
        // Until the server has said what it offers, an outcome waits here.
        bool decided = false;
        std::optional<ShareResult> early;
        // The notification on screen (0: none), whether a notice still awaits its id, and
        // whether a newer one waits behind it.
        quint32 notification = 0;
        bool sending = false;
        bool resend = false;
        // Dismissed by the user: no progress updates until the outcome.
        bool dismissed = false;
    };

    Entry* find(const QUuid& id, std::uint64_t generation);
    std::map<QUuid, Entry>::iterator shownAs(quint32 notification);
    void decide(const QUuid& id, std::uint64_t generation, const std::optional<QStringList>& capabilities);
    void toCards(const QUuid& id);
    void show(const QUuid& id);
    void onShown(const QUuid& id, std::uint64_t generation, std::optional<quint32> notification);
    void onAction(quint32 notification, const QString& key);
    void onClosed(quint32 notification);
    // By value: the entry holding the id may go while the action runs.
    void act(QUuid id, ShareCardText::Action action);
    void forget(const QUuid& id);

    DesktopNotifications& m_server;
    SharePrompter& m_cards;
    DesktopLauncher& m_desktop;
    Schedule m_schedule;
    std::map<QUuid, Entry> m_entries;
    std::uint64_t m_generation = 0;
};

} // namespace tessaly
