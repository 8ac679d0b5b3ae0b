#include <set>

#include <QClipboard>
#include <QDBusMessage>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include "platform/FreedesktopNotifications.h"
#include "quickshare/NotificationPrompts.h"
#include "support/PrivateBus.h"
#include "support/QuickShareFakes.h"
#include "support/TestPhone.h"

namespace tessaly {
namespace {

using Notice = DesktopNotifications::Notice;

// A notification server as a script: ids as real servers give them (a notice that replaces one
// no longer up gets a new id), replies at once or when the test releases them.
struct ScriptedServer : DesktopNotifications {
    std::optional<QStringList> offers = QStringList { QStringLiteral("actions") };
    bool holdReplies = false;
    bool refuse = false;
    std::vector<std::pair<quint32, Notice>> sent;
    std::vector<std::function<void()>> held;
    std::vector<quint32> closedByClient;
    std::set<quint32> up;
    quint32 last = 0;

    void capabilities(std::function<void(std::optional<QStringList>)> answer) override { answer(offers); }
    void notify(
        quint32 replaces, const Notice& notice, std::function<void(std::optional<quint32>)> shown) override
    {
        sent.emplace_back(replaces, notice);
        held.push_back([this, replaces, shown] {
            const quint32 id = up.count(replaces) ? replaces : ++last;
            up.insert(id);
            shown(refuse ? std::nullopt : std::optional(id));
        });
        if (!holdReplies)
            release();
    }
    void close(quint32 id) override
    {
        closedByClient.push_back(id);
        up.erase(id);
    }
    void release()
    {
        for (auto& reply : std::exchange(held, {}))
            reply();
    }
    void click(const char* key) { emit actionInvoked(last, QString::fromLatin1(key)); }
    void dismiss(quint32 id)
    {
        up.erase(id);
        emit closed(id);
    }
    QStringList keys(std::size_t i) const
    {
        QStringList shown;
        for (const auto& [key, label] : sent.at(i).second.actions)
            shown << key;
        return shown;
    }
};

struct RecordingCards : SharePrompter {
    std::vector<std::pair<QUuid, std::function<void(bool)>>> asked;
    int finishedCount = 0;
    void ask(const IncomingShare& share, std::function<void(bool)> answer, std::function<void()>) override
    {
        asked.emplace_back(share.id, std::move(answer));
    }
    void progress(const QUuid&, std::int64_t) override { }
    void finished(const QUuid&, const ShareResult&) override { ++finishedCount; }
};

using test::RecordingDesktop;

struct Rig {
    ScriptedServer server;
    RecordingCards cards;
    RecordingDesktop desktop;
    std::vector<std::function<void()>> scheduled;
    NotificationPrompts prompts { server, cards, desktop, [this](int delayMs, std::function<void()> action) {
                                     EXPECT_EQ(delayMs, 30'000);
                                     scheduled.push_back(std::move(action));
                                 } };
    std::vector<bool> answers;
    int stops = 0;

    IncomingShare ask(NotificationPrompts* through = nullptr, std::string firstFile = "a.jpg")
    {
        IncomingShare share;
        share.id = QUuid::createUuid();
        share.sender = "Pixel 8";
        share.code = "4821";
        share.files = { { std::move(firstFile), 2'000'000 }, { "b.pdf", 600'000 } };
        share.totalBytes = 2'600'000;
        (through ? *through : prompts)
            .ask(
                share, [this](bool accept) { answers.push_back(accept); }, [this] { ++stops; });
        return share;
    }
};

TEST(NotificationPromptsTest, OneNotificationAsksThenFollowsTheTransfer)
{
    Rig r;
    const QUuid id = r.ask().id;
    ASSERT_EQ(r.server.sent.size(), 1u);
    const Notice& question = r.server.sent[0].second;
    EXPECT_EQ(question.summary, QStringLiteral("“Pixel 8” wants to send you 2 files"));
    EXPECT_EQ(question.body,
        QStringLiteral(
            "a.jpg, b.pdf\u00a0·\u00a02.6\u00a0MB\nCode 4821\nIf your phone shows a code, it should "
            "be the same one."));
    EXPECT_EQ(r.server.keys(0), (QStringList { QStringLiteral("decline"), QStringLiteral("accept") }));

    r.server.click("stop"); // not offered while asking
    r.server.click("accept");
    r.server.click("accept"); // one answer only
    EXPECT_EQ(r.answers, std::vector<bool> { true });
    ASSERT_EQ(r.server.sent.size(), 2u);
    EXPECT_EQ(r.server.sent[1].first, 1u);
    EXPECT_EQ(r.server.keys(1), QStringList { QStringLiteral("stop") });

    // One update per percent.
    r.prompts.progress(id, 1'300'000);
    r.prompts.progress(id, 1'300'500);
    ASSERT_EQ(r.server.sent.size(), 3u);
    EXPECT_EQ(r.server.sent[2].second.progress, 50);
    EXPECT_TRUE(r.server.sent[2].second.body.endsWith(QStringLiteral("1.3 MB of 2.6 MB")));

    r.prompts.finished(id, ShareResult::saved({ "/d/a.jpg", "/d/b.pdf" }));
    const Notice& outcome = r.server.sent.back().second;
    EXPECT_EQ(outcome.summary, QStringLiteral("2 files saved to Downloads"));
    EXPECT_EQ(r.server.keys(3), QStringList { QStringLiteral("showInFolder") });
    r.server.click("showInFolder");
    EXPECT_EQ(r.desktop.shown, (std::vector<std::vector<std::string>> { { "/d/a.jpg", "/d/b.pdf" } }));
    EXPECT_EQ(r.server.closedByClient, std::vector<quint32> { 1 });
}

TEST(NotificationPromptsTest, DeclineDismissalAndClosing)
{
    Rig r;
    const QUuid declined = r.ask().id;
    r.server.click("decline");
    EXPECT_EQ(r.answers, std::vector<bool> { false });
    EXPECT_EQ(r.server.closedByClient, std::vector<quint32> { 1 });
    r.prompts.finished(declined, ShareResult::of(ShareResult::Kind::declined));
    EXPECT_EQ(r.server.sent.size(), 1u);

    // Dismissed without an answer: no answer; the receiver's time limit brings the outcome.
    const QUuid missed = r.ask().id;
    r.server.dismiss(2);
    r.server.click("accept");
    EXPECT_EQ(r.answers.size(), 1u);
    r.prompts.finished(missed, ShareResult::of(ShareResult::Kind::missed));
    EXPECT_EQ(r.server.sent.back().first, 0u);
    EXPECT_EQ(r.server.sent.back().second.summary, QStringLiteral("You missed a share from “Pixel 8”"));
    ASSERT_EQ(r.scheduled.size(), 1u);
    r.scheduled[0]();
    EXPECT_EQ(r.server.closedByClient.back(), 3u);

    r.ask(); // still up when Tessaly quits
    r.prompts.withdrawAll();
    EXPECT_EQ(r.server.closedByClient.back(), 4u);
}

TEST(NotificationPromptsTest, TheCardsAskWhenTheServerRefusesAndOnX11)
{
    Rig r;
    r.server.refuse = true;
    const QUuid id = r.ask().id;
    ASSERT_EQ(r.cards.asked.size(), 1u);
    r.cards.asked[0].second(true);
    EXPECT_EQ(r.answers, std::vector<bool> { true });
    r.prompts.finished(id, ShareResult::of(ShareResult::Kind::cancelledByPhone));
    EXPECT_EQ(r.cards.finishedCount, 1);
    EXPECT_TRUE(NotificationPrompts::suitsSession(QString(), QStringLiteral("wayland-egl")));
    EXPECT_FALSE(NotificationPrompts::suitsSession(QStringLiteral("x11"), QStringLiteral("xcb")));
}

TEST(NotificationPromptsTest, ANoticeOnItsWayOutlivesTheServerClosingTheOneItReplaces)
{
    Rig r;
    r.server.holdReplies = true;
    const QUuid id = r.ask().id;
    r.server.release();
    r.server.click("accept");
    // As some servers do after an action: the old notice goes before the new one is shown.
    r.server.dismiss(1);
    r.prompts.progress(id, 260'000);
    r.prompts.progress(id, 520'000);
    EXPECT_EQ(r.server.sent.size(), 2u); // the updates wait for the id
    r.server.release();
    ASSERT_EQ(r.server.sent.size(), 3u);
    EXPECT_EQ(r.server.sent[2].first, 2u);
    EXPECT_EQ(r.server.sent[2].second.progress, 20);
    r.server.release();
    r.server.click("stop");
    EXPECT_EQ(r.stops, 1);

    // The clipboard gets received text at once, and again from Copy.
    const QUuid text = r.ask().id;
    r.server.release();
    r.server.click("accept");
    r.server.release();
    r.prompts.finished(text, ShareResult::receivedText("milk"));
    r.server.release();
    QGuiApplication::clipboard()->setText(QStringLiteral("other"));
    r.server.click("copy");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("milk"));
}

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

class BusServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList offers;
    QVariantList notified;

public slots:
    QStringList GetCapabilities() { return offers; }
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
        const QString& body, const QStringList& actions, const QVariantMap& hints, int expireMs)
    {
        notified = { app, replaces, icon, summary, body, actions, hints, expireMs };
        return 7;
    }
};

TEST(NotificationPromptsTest, OnAPrivateBusTheClientSpeaksTheServersLanguage)
{
    test::PrivateBus bus;
    if (bus.address().isEmpty())
        GTEST_SKIP() << "dbus-daemon is missing (bash scripts/setup installs it)";
    QDBusConnection serverSide
        = QDBusConnection::connectToBus(bus.address(), QStringLiteral("scripted-server"));
    BusServer script;
    ASSERT_TRUE(serverSide.registerObject(kPath, &script, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serverSide.registerService(kInterface));
    FreedesktopNotifications client(QDBusConnection::connectToBus(bus.address(), QStringLiteral("client")));
    Rig r;
    NotificationPrompts prompts(client, r.cards, r.desktop);
    script.offers = QStringList { QStringLiteral("body") }; // no actions: the cards ask
    r.ask(&prompts);
    ASSERT_TRUE(test::waitUntil([&] { return r.cards.asked.size() == 1; }));
    EXPECT_TRUE(script.notified.isEmpty());
    script.offers << QStringLiteral("actions");
    r.ask(&prompts, "<b>&.jpg");
    ASSERT_TRUE(test::waitUntil([&] { return !script.notified.isEmpty(); }));
    EXPECT_EQ(script.notified[3].toString(), QStringLiteral("“Pixel 8” wants to send you 2 files"));
    EXPECT_TRUE(script.notified[4].toString().startsWith(QStringLiteral("&lt;b&gt;&amp;.jpg")));
    EXPECT_EQ(script.notified[5].toStringList(),
        (QStringList { QStringLiteral("decline"), QStringLiteral("Decline"), QStringLiteral("accept"),
            QStringLiteral("Accept") }));
    EXPECT_EQ(script.notified[7].toInt(), 0);

    serverSide.send(QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("ActionInvoked"))
        << 7u << QStringLiteral("accept"));
    ASSERT_TRUE(test::waitUntil([&] { return !r.answers.empty(); }));
    EXPECT_EQ(r.answers, std::vector<bool> { true });
}

} // namespace
} // namespace tessaly

#include "NotificationPromptsTest.moc"
