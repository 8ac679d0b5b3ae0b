#include <QApplication>
#include <QClipboard>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

#include "quickshare/QuickShareWindow.h"
#include "quickshare/ShareCard.h"
#include "quickshare/ShareCardView.h"
#include "quickshare/WrappedText.h"
#include "support/QuickShareFakes.h"
#include "support/Screenshots.h"

namespace tessaly {
namespace {

using Kind = ShareCard::Phase::Kind;

using test::RecordingDesktop;

IncomingShare offer(IncomingShare::ContentKind kind, std::string sender = "Pixel 8")
{
    IncomingShare share;
    share.id = QUuid::createUuid();
    share.sender = std::move(sender);
    share.code = "4821";
    share.contentKind = kind;
    if (kind == IncomingShare::ContentKind::files) {
        share.files = { { "IMG_20240611_093015.jpg", 2'400'000 }, { "Boarding pass.pdf", 180'000 },
            { "notes.txt", 1'200 } };
        share.totalBytes = 2'581'200;
    } else {
        share.title = kind == IncomingShare::ContentKind::link
            ? "https://www.example.org/articles/quick-share"
            : "Shopping list: milk, eggs, bread";
        share.totalBytes = 64;
    }
    return share;
}

// Prompts whose delayed closes wait until the test fires them; every answer and stop recorded.
struct Prompts {
    RecordingDesktop desktop;
    std::vector<std::pair<int, std::function<void()>>> scheduled;
    QuickSharePrompts prompts { desktop, [this](int delayMs, std::function<void()> action) {
                                   scheduled.emplace_back(delayMs, std::move(action));
                               } };
    std::vector<std::pair<QUuid, bool>> answers;
    std::vector<QUuid> stops;

    QUuid ask(const IncomingShare& share, std::function<void(bool)> also = {})
    {
        prompts.ask(
            share,
            [this, id = share.id, also](bool accept) {
                answers.emplace_back(id, accept);
                if (also)
                    also(accept);
            },
            [this, id = share.id] { stops.push_back(id); });
        return share.id;
    }
    QPushButton* button(const QUuid& id, const char* name)
    {
        ShareCardView* panel = prompts.panel(id);
        auto* found = panel ? panel->findChild<QPushButton*>(QLatin1String(name)) : nullptr;
        return found && found->isVisible() ? found : nullptr;
    }
    bool click(const QUuid& id, const char* name)
    {
        QPushButton* target = button(id, name);
        if (!target)
            return false;
        target->click();
        QApplication::processEvents();
        return true;
    }
    void fireTimers()
    {
        auto due = std::move(scheduled);
        scheduled.clear();
        for (auto& [delay, action] : due)
            action();
        QApplication::processEvents();
    }
};

TEST(QuickSharePromptsTest, EachAnswerAndStopReachesTheSenderOnce)
{
    Prompts p;
    const QUuid declined = p.ask(offer(IncomingShare::ContentKind::files));
    ShareCard* card = p.prompts.card(declined);
    ASSERT_TRUE(p.click(declined, "decline"));
    card->answer(true); // the closed card's late click
    EXPECT_FALSE(p.prompts.panel(declined));
    p.prompts.finished(declined, ShareResult::of(ShareResult::Kind::declined));

    const QUuid stopped = p.ask(offer(IncomingShare::ContentKind::text));
    ShareCard* stoppedCard = p.prompts.card(stopped);
    stoppedCard->stop(); // no Stop while asking
    ASSERT_TRUE(p.click(stopped, "accept"));
    p.prompts.card(stopped)->answer(false); // no second answer once accepted
    ASSERT_TRUE(p.click(stopped, "stop"));
    EXPECT_FALSE(p.prompts.panel(stopped));
    p.prompts.finished(stopped, ShareResult::of(ShareResult::Kind::stopped));

    EXPECT_EQ(p.answers, (std::vector<std::pair<QUuid, bool>> { { declined, false }, { stopped, true } }));
    EXPECT_EQ(p.stops, std::vector<QUuid> { stopped });
    EXPECT_TRUE(p.scheduled.empty());
    EXPECT_TRUE(p.prompts.panels().empty());
}

TEST(QuickSharePromptsTest, AnOutcomeDuringTheAnswerIsNotOverwritten)
{
    Prompts p;
    const IncomingShare share = offer(IncomingShare::ContentKind::files);
    p.ask(share, [&](bool) { p.prompts.finished(share.id, ShareResult::failed("the phone went away")); });
    ASSERT_TRUE(p.click(share.id, "accept"));
    ASSERT_TRUE(p.prompts.card(share.id));
    EXPECT_EQ(p.prompts.card(share.id)->phase().kind, Kind::done);
}

TEST(QuickSharePromptsTest, FinishedCardsCloseAfterThirtySeconds)
{
    Prompts p;
    const QUuid failed = p.ask(offer(IncomingShare::ContentKind::files));
    p.prompts.finished(failed, ShareResult::failed("the phone stopped sending"));
    ASSERT_EQ(p.scheduled.size(), 1u);
    EXPECT_EQ(p.scheduled[0].first, 30'000);

    // A new card under the same id is not closed by the old card's timer.
    IncomingShare again = offer(IncomingShare::ContentKind::link);
    again.id = failed;
    p.ask(again);
    EXPECT_EQ(p.prompts.panels().size(), 1u);
    p.fireTimers();
    ASSERT_TRUE(p.prompts.card(failed));
    EXPECT_EQ(p.prompts.card(failed)->phase(), ShareCard::Phase::asking());

    p.prompts.finished(failed, ShareResult::of(ShareResult::Kind::missed));
    p.fireTimers();
    EXPECT_FALSE(p.prompts.card(failed));
}

TEST(QuickSharePromptsTest, ReceivedTextAndLinksGoOnTheClipboard)
{
    Prompts p;
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QUuid text = p.ask(offer(IncomingShare::ContentKind::text));
    p.click(text, "accept");
    p.prompts.finished(text, ShareResult::receivedText("milk\neggs"));
    EXPECT_EQ(clipboard->text(), QStringLiteral("milk\neggs"));
    EXPECT_FALSE(p.button(text, "openLink"));

    const QUuid link = p.ask(offer(IncomingShare::ContentKind::link));
    p.click(link, "accept");
    p.prompts.finished(link, ShareResult::receivedLink(" https://www.example.org/a \n"));
    EXPECT_EQ(clipboard->text(), QStringLiteral(" https://www.example.org/a \n"));
    ASSERT_TRUE(p.click(link, "openLink"));
    EXPECT_EQ(p.desktop.opened, std::vector<QUrl> { QUrl(QStringLiteral("https://www.example.org/a")) });
    EXPECT_FALSE(p.prompts.panel(link));

    // Nothing reaches the clipboard for a card the user has already closed.
    const QUuid closed = p.ask(offer(IncomingShare::ContentKind::text));
    p.click(closed, "decline");
    p.prompts.finished(closed, ShareResult::receivedText("secret"));
    EXPECT_NE(clipboard->text(), QStringLiteral("secret"));
}

TEST(QuickSharePromptsTest, CardsStackInTheTopRightCorner)
{
    Prompts p;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QUuid first = p.ask(offer(IncomingShare::ContentKind::files));
    const QUuid second = p.ask(offer(IncomingShare::ContentKind::text));
    const QUuid third = p.ask(offer(IncomingShare::ContentKind::link));
    p.click(first, "accept");
    p.prompts.progress(first, 900'000);
    p.prompts.finished(second, ShareResult::receivedText("Shopping list:\nmilk, eggs, bread"));

    const std::vector<ShareCardView*> panels = p.prompts.panels();
    ASSERT_EQ(panels.size(), 3u);
    EXPECT_EQ(panels[0], p.prompts.panel(first));
    int top = area.top() + 12;
    for (ShareCardView* panel : panels) {
        EXPECT_EQ(panel->geometry().topLeft(), QPoint(area.right() + 1 - 12 - 440, top));
        top += panel->height() + 10;
    }

    // One picture of the corner of the screen with the three cards.
    const int width = 440 + 2 * 12;
    QPixmap corner(width, top);
    corner.fill(QColor(0x3b, 0x4a, 0x5c));
    QPainter painter(&corner);
    for (ShareCardView* panel : panels)
        painter.drawPixmap(panel->x() - (area.right() + 1 - width), panel->y() - area.top(), panel->grab());
    painter.end();
    EXPECT_TRUE(corner.save(test::screenshotFolder() + QStringLiteral("/share-cards-stacked.png")));

    p.click(second, "close");
    ASSERT_EQ(p.prompts.panels().size(), 2u);
    EXPECT_EQ(p.prompts.panel(third)->y(), p.prompts.panel(first)->geometry().bottom() + 1 + 10);
}

TEST(QuickSharePromptsTest, LongNamesKeepInsideTheCardTitlesToTwoLinesAndDetailsToFour)
{
    Prompts p;
    IncomingShare share = offer(IncomingShare::ContentKind::files, std::string(90, 'W'));
    share.files.push_back({ std::string(600, 'n') + ".jpg", 1 });
    std::swap(share.files.front(), share.files.back());
    const QUuid id = p.ask(share);
    ShareCardView* panel = p.prompts.panel(id);
    EXPECT_EQ(panel->width(), 440);
    auto* detail = panel->findChild<WrappedText*>(QStringLiteral("detail"));
    const QString shown = detail->shownText(detail->width());
    EXPECT_TRUE(shown.startsWith(QStringLiteral("nnnn")) && shown.contains(QStringLiteral("…")));
    EXPECT_LE(detail->height(), 4 * detail->fontMetrics().lineSpacing());
    auto* title = panel->findChild<WrappedText*>(QStringLiteral("title"));
    // The name is cut, on two lines at most, and the rest of the sentence kept.
    EXPECT_EQ(title->height(), 2 * title->fontMetrics().lineSpacing());
    EXPECT_TRUE(title->shownText(title->width()).endsWith(QStringLiteral("W…” wants to send you 4 files")));
    EXPECT_LE(title->geometry().right(), panel->width() - 18);
    test::saveScreenshot(panel, QStringLiteral("share-card-long-names"));
}

// One picture per phase of a card, for a reviewer to look at.
TEST(QuickSharePromptsTest, ScreenshotsOfEveryPhase)
{
    using C = IncomingShare::ContentKind;
    using P = ShareCard::Phase;
    using R = ShareResult;
    const std::vector<std::string> saved { "/home/u/Downloads/IMG_20240611_093015.jpg",
        "/home/u/Downloads/Boarding pass.pdf", "/home/u/Downloads/notes.txt" };
    const std::tuple<const char*, C, P> phases[] = {
        { "asking-files", C::files, P::asking() },
        { "asking-text", C::text, P::asking() },
        { "asking-link", C::link, P::asking() },
        { "receiving", C::files, P::receiving() },
        { "done-saved", C::files, P::done(R::saved(saved)) },
        { "done-text", C::text, P::done(R::receivedText("Shopping list:\nmilk, eggs, bread, two lemons")) },
        { "done-link", C::link, P::done(R::receivedLink("https://www.example.org/articles/quick-share")) },
        { "done-failed", C::files, P::done(R::failed("the phone stopped sending")) },
        { "done-cancelled", C::files, P::done(R::of(R::Kind::cancelledByPhone)) },
        { "done-missed", C::files, P::done(R::of(R::Kind::missed)) },
    };
    RecordingDesktop desktop;
    for (const auto& [name, kind, phase] : phases) {
        ShareCard card(offer(kind));
        ShareCardView view(card, desktop);
        card.setPhase(phase);
        card.setReceivedBytes(1'032'480);
        view.fitToContent();
        test::saveScreenshot(&view, QStringLiteral("share-card-") + QLatin1String(name));
    }
}

} // namespace
} // namespace tessaly
