#include "quickshare/QuickShareWindow.h"

#include <algorithm>

#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include "platform/XdgDesktopLauncher.h"
#include "quickshare/ShareCard.h"
#include "quickshare/ShareCardView.h"

namespace tessaly {

QuickSharePrompts& QuickSharePrompts::shared()
{
    // Never destroyed: cards may still be up while the application object goes away.
    static auto* const launcher = new XdgDesktopLauncher;
    static auto* const prompts = new QuickSharePrompts(*launcher);
    return *prompts;
}

QuickSharePrompts::QuickSharePrompts(DesktopLauncher& desktop, Schedule schedule, QObject* parent)
    : QObject(parent)
    , m_desktop(desktop)
    , m_schedule(std::move(schedule))
{
    if (!m_schedule) {
        m_schedule = [this](int delayMs, std::function<void()> action) {
            QTimer::singleShot(delayMs, this, std::move(action));
        };
    }
}

QuickSharePrompts::~QuickSharePrompts()
{
    for (auto& [id, entry] : m_cards) {
        delete entry.panel;
        delete entry.card;
    }
}

void QuickSharePrompts::ask(
    const IncomingShare& share, std::function<void(bool accept)> answer, std::function<void()> stop)
{
    // A second offer under the same id replaces the first card rather than leaving it on
    // screen for good.
    close(share.id);

    auto* card = new ShareCard(share);
    const QUuid id = share.id;
    QPointer<QuickSharePrompts> self(this);
    QPointer<ShareCard> weakCard(card);
    // Whether the card is still shown in the given phase (closed cards linger until deleted).
    const auto shownIn = [self, weakCard, id](ShareCard::Phase::Kind phase) {
        return self && weakCard && self->card(id) == weakCard && weakCard->phase().kind == phase;
    };
    using Kind = ShareCard::Phase::Kind;
    card->install(
        [self, weakCard, id, shownIn, answer = std::move(answer)](bool accept) {
            // One answer per share: a second click, or one on a card that moved on, is ignored.
            if (!shownIn(Kind::asking))
                return;
            answer(accept);
            // The answer may already have ended the share.
            if (!shownIn(Kind::asking))
                return;
            if (!accept) {
                self->close(id, weakCard);
                return;
            }
            weakCard->setPhase(ShareCard::Phase::receiving());
            self->fit(id);
        },
        [self, weakCard, id, shownIn, stop = std::move(stop)] {
            if (!shownIn(Kind::receiving))
                return;
            stop();
            if (self)
                self->close(id, weakCard);
        },
        [self, weakCard, id] {
            if (self && weakCard)
                self->close(id, weakCard);
        });

    auto* panel = new ShareCardView(*card, m_desktop);
    m_cards[id] = Entry { card, panel, ++m_opened };
    arrange();
    // A new window opens above the others of its layer: no raise() needed, which would
    // take the focus on some window managers.
    panel->show();
}

void QuickSharePrompts::progress(const QUuid& id, std::int64_t receivedBytes)
{
    if (ShareCard* shown = card(id))
        shown->setReceivedBytes(receivedBytes);
}

void QuickSharePrompts::finished(const QUuid& id, const ShareResult& result)
{
    ShareCard* shown = card(id);
    if (!shown)
        return;
    using Kind = ShareResult::Kind;
    if (result.kind == Kind::declined || result.kind == Kind::stopped) {
        close(id);
        return;
    }
    if (result.kind == Kind::text || result.kind == Kind::link) {
        if (QClipboard* clipboard = QGuiApplication::clipboard()) {
            clipboard->clear();
            clipboard->setText(QString::fromStdString(result.text));
        }
    }
    shown->setPhase(ShareCard::Phase::done(result));
    fit(id);
    QPointer<QuickSharePrompts> self(this);
    QPointer<ShareCard> weakCard(shown);
    m_schedule(kCloseDelayMs, [self, weakCard, id] {
        // Only the card this was meant for: the user may have closed it already.
        if (self && weakCard)
            self->close(id, weakCard);
    });
}

ShareCard* QuickSharePrompts::card(const QUuid& id) const
{
    const auto found = m_cards.find(id);
    return found == m_cards.end() ? nullptr : found->second.card;
}

ShareCardView* QuickSharePrompts::panel(const QUuid& id) const
{
    const auto found = m_cards.find(id);
    return found == m_cards.end() ? nullptr : found->second.panel;
}

std::vector<ShareCardView*> QuickSharePrompts::panels() const
{
    std::vector<const Entry*> entries;
    for (const auto& [id, entry] : m_cards)
        entries.push_back(&entry);
    std::sort(
        entries.begin(), entries.end(), [](const Entry* a, const Entry* b) { return a->order < b->order; });
    std::vector<ShareCardView*> shown;
    for (const Entry* entry : entries)
        shown.push_back(entry->panel);
    return shown;
}

void QuickSharePrompts::close(const QUuid& id, const ShareCard* which)
{
    const auto found = m_cards.find(id);
    if (found == m_cards.end() || (which && found->second.card != which))
        return;
    const Entry entry = found->second;
    m_cards.erase(found);
    entry.panel->hide();
    // Closing usually starts from one of the card's own buttons, still on the stack.
    entry.panel->deleteLater();
    entry.card->deleteLater();
    arrange();
}

void QuickSharePrompts::fit(const QUuid& id)
{
    if (ShareCardView* shown = panel(id)) {
        shown->fitToContent();
        arrange();
    }
}

void QuickSharePrompts::arrange()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    int y = area.top() + kMargin;
    for (ShareCardView* shown : panels()) {
        shown->move(area.left() + area.width() - shown->width() - kMargin, y);
        y += shown->height() + kSpacing;
    }
}

} // namespace tessaly
