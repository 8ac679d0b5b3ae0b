#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include <QObject>
#include <QUuid>

#include "quickshare/SharePrompter.h"

namespace tessaly {

class DesktopLauncher;
class ShareCard;
class ShareCardView;

// The share prompts: one card per offer, stacked in the top-right corner of the primary screen.
// Main thread only.
class QuickSharePrompts : public QObject, public SharePrompter {
    Q_OBJECT

public:
    // Runs `action` once, `delayMs` later, on this thread. Tests hand in one they fire themselves.
    using Schedule = std::function<void(int delayMs, std::function<void()> action)>;

    static constexpr int kCloseDelayMs = 30'000;
    static constexpr int kMargin = 12;
    static constexpr int kSpacing = 10;

    // The application's prompts, made on first use; they last as long as the process.
    static QuickSharePrompts& shared();

    // Without a schedule, a real timer closes finished cards.
    explicit QuickSharePrompts(DesktopLauncher& desktop, Schedule schedule = {}, QObject* parent = nullptr);
    ~QuickSharePrompts() override;

    void ask(const IncomingShare& share, std::function<void(bool accept)> answer,
        std::function<void()> stop) override;
    void progress(const QUuid& id, std::int64_t receivedBytes) override;
    void finished(const QUuid& id, const ShareResult& result) override;

    // The card showing `id`, if any.
    ShareCard* card(const QUuid& id) const;
    ShareCardView* panel(const QUuid& id) const;
    // The cards on screen, oldest first.
    std::vector<ShareCardView*> panels() const;

private:
    struct Entry {
        ShareCard* card = nullptr;
        ShareCardView* panel = nullptr;
        std::uint64_t order = 0;
    };

    void close(const QUuid& id, const ShareCard* which = nullptr);
    void fit(const QUuid& id);
    void arrange();

    DesktopLauncher& m_desktop;
    Schedule m_schedule;
    std::map<QUuid, Entry> m_cards;
    std::uint64_t m_opened = 0;
};

} // namespace tessaly
