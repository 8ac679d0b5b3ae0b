#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "app/TessalyApp.h"
#include "platform/FreedesktopNotifications.h"
#include "platform/LocalFiles.h"
#include "quickshare/NotificationPrompts.h"
#include "quickshare/QuickShareWindow.h"
#include "quickshare/ShareCard.h"
#include "quickshare/ShareCardView.h"
#include "quickshare/WrappedText.h"
#include "support/ControllerFakes.h"
#include "support/QuickShareFakes.h"
#include "support/Screenshots.h"
#include "support/TestPhone.h"

namespace tessaly {
namespace {

using namespace test;
using Answer = SharingFrame::Answer;
using Piece = OfflineFrame::PayloadPiece;

// The running application with Quick Share switched on, its cards on the offscreen desktop (or
// the session's notification service) and a phone that has offered one file over loopback.
struct Running {
    QTemporaryDir downloads;
    RecordingDesktop desktop;
    QuickSharePrompts prompts { desktop, [](int, std::function<void()>) {} };
    std::optional<FreedesktopNotifications> server;
    std::optional<NotificationPrompts> notifications;
    std::shared_ptr<QuickShareReceiver> receiver = std::make_shared<QuickShareReceiver>(
        QuickShareReceiver::Environment { std::make_shared<FakeAdvertiser>(), steadyQuickShareClock(),
            &LocalFiles::availableCapacity, 5000 });
    ControllerRig rig;
    std::unique_ptr<AppState> state;
    std::unique_ptr<TessalyApp> app;
    std::optional<TestPhone> phone;
    Bytes data = Bytes(300'000);

    explicit Running(bool notify = false)
    {
        if (notify) {
            server.emplace();
            notifications.emplace(*server, prompts, desktop, [](int, std::function<void()>) {});
        }
        rig.defaults->writeInt(AppState::kSettingsVersion, 2);
        rig.defaults->writeBool(AppState::kQuickShareReceive, true);
        AppState::Services services = rig.services();
        services.quickShare = receiver;
        SharePrompter* asker = notifications ? static_cast<SharePrompter*>(&*notifications) : &prompts;
        services.sharePrompter = std::shared_ptr<SharePrompter>(asker, [](SharePrompter*) {});
        services.downloadsFolder = [this] { return std::optional(downloads.path().toStdString()); };
        state = std::make_unique<AppState>(std::move(services));
        app = std::make_unique<TessalyApp>(*state);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = std::uint8_t(i % 251);
    }
    ~Running() { waitUntilIdle(*state); }
    bool offer()
    {
        if (!waitUntil(
                [&] { return state->quickShareStatus().kind == QuickShareReceiver::Status::Kind::on; }))
            return false;
        phone.emplace(receiver->port());
        if (!phone->handshake())
            return false;
        phone->sendSharing(
            SharingFrame { SharingFrame::Introduction { { { "photo.jpg", 7, 300'000, "" } }, {}, false } });
        return notifications || waitUntil([&] { return shownCard() != nullptr; });
    }
    void send(std::int64_t from, std::int64_t to, bool last)
    {
        phone->sendSecure(OfflineFrame { Piece {
            7, Piece::Kind::file, 300'000, from, last, Bytes(data.begin() + from, data.begin() + to) } });
    }
    static ShareCardView* shownCard()
    {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* card = qobject_cast<ShareCardView*>(window); card && card->isVisible())
                return card;
        return nullptr;
    }
    static QString text(ShareCardView* card, const char* name)
    {
        return card->findChild<WrappedText*>(QLatin1String(name))->text();
    }
    static bool click(ShareCardView* card, const QString& label)
    {
        for (QPushButton* button : card->findChildren<QPushButton*>())
            if (button->isVisible() && button->text() == label) {
                QTest::mouseClick(button, Qt::LeftButton);
                return true;
            }
        return false;
    }
    std::optional<Answer> answerHeard(double seconds = 5)
    {
        const auto frame = phone->readSharing(seconds);
        const auto* response = frame ? frame->as<SharingFrame::Response>() : nullptr;
        return response ? std::optional(response->answer) : std::nullopt;
    }
};

// The whole application between a phone and Downloads; what the card says and what the receiver
// allows have their own tests.
TEST(QuickShareEndToEnd, AcceptedFileArrivesInDownloads)
{
    Running r;
    ASSERT_TRUE(r.offer());
    ShareCardView* card = Running::shownCard();
    saveScreenshot(card, QStringLiteral("quick-share-end-to-end-asking"));
    ASSERT_TRUE(Running::click(card, QStringLiteral("Accept")));
    ASSERT_EQ(r.answerHeard(), Answer::accept);
    r.send(0, 120'000, false);
    ASSERT_TRUE(
        waitUntil([&] { return Running::text(card, "progressLine") == QStringLiteral("120 kB of 300 kB"); }));
    saveScreenshot(card, QStringLiteral("quick-share-end-to-end-receiving"));
    r.send(120'000, 300'000, true);
    ASSERT_TRUE(
        waitUntil([&] { return Running::text(card, "title") == QStringLiteral("Saved to Downloads"); }));
    EXPECT_TRUE(r.phone->waitClosed());
    saveScreenshot(card, QStringLiteral("quick-share-end-to-end-done"));
    // Only the finished file: no partial or temporary file is left beside it.
    EXPECT_EQ(QDir(r.downloads.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList { QStringLiteral("photo.jpg") });
    const QString path = r.downloads.filePath(QStringLiteral("photo.jpg"));
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    EXPECT_TRUE(Bytes(bytes.begin(), bytes.end()) == r.data);
    ASSERT_TRUE(Running::click(card, QStringLiteral("Show in Folder")));
    EXPECT_EQ(r.desktop.shown, std::vector<std::vector<std::string>> { { path.toStdString() } });
    EXPECT_TRUE(waitUntil([] { return !Running::shownCard(); }));
}

// Run by tests/desktop/run.sh beside dunst, whose context menu lists the actions on screen
// ("#Accept (“Pixel 8” wants to send you a file) [1,accept]") for a script to pick from.
TEST(QuickShareEndToEnd, OnWaylandTheDesktopsNotificationsAsk)
{
    const QString choice = qEnvironmentVariable("TESSALY_NOTIFICATION_CHOICE");
    if (choice.isEmpty())
        GTEST_SKIP() << "needs a notification daemon: tests/desktop/run.sh runs it";
    ASSERT_TRUE(NotificationPrompts::suitsSession(qEnvironmentVariable("XDG_SESSION_TYPE"), QString()));
    const auto pick = [&](const char* label) {
        QFile file(choice);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(label);
        QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.dunstproject.cmd0"), QStringLiteral("ContextMenuCall")));
    };
    Running r(true);
    ASSERT_TRUE(r.offer());
    std::optional<Answer> heard;
    for (int tries = 0; tries < 10 && !heard; ++tries) {
        pick("Accept");
        heard = r.answerHeard(0.5);
    }
    ASSERT_EQ(heard, Answer::accept);
    r.send(0, 300'000, true);
    ASSERT_TRUE(r.phone->waitClosed());
    // The outcome replaces the progress once the receiver has reported it.
    for (int tries = 0; tries < 10 && r.desktop.shown.empty(); ++tries) {
        pick("Show in Folder");
        waitUntil([&] { return !r.desktop.shown.empty(); }, 0.5);
    }
    EXPECT_EQ(r.desktop.shown,
        std::vector<std::vector<std::string>> {
            { r.downloads.filePath(QStringLiteral("photo.jpg")).toStdString() } });
    EXPECT_FALSE(Running::shownCard());
}

} // namespace
} // namespace tessaly
