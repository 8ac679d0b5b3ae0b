#include <QByteArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/ControllerFakes.h"
#include "support/TestPhone.h"

namespace tessaly {
namespace {

using namespace test;
using Status = QuickShareReceiver::Status;

struct FakeAdvertiser : ServiceAdvertiser {
    std::optional<std::string> failure; // reported instead of the announcement
    std::vector<Service> published;
    int withdrawn = 0;
    void publish(Service service, std::function<std::string()>, Handlers handlers) override
    {
        published.push_back(service);
        if (failure)
            handlers.failed(*failure);
        else
            handlers.established(service.name);
    }
    void withdraw() override { ++withdrawn; }
};

// Answers every offer as `accept` says and records what the cards would show.
struct FakePrompter : SharePrompter {
    bool accept = true;
    std::vector<IncomingShare> asked;
    std::vector<ShareResult> results;
    void ask(const IncomingShare& share, std::function<void(bool)> answer, std::function<void()>) override
    {
        asked.push_back(share);
        answer(accept);
    }
    void progress(const QUuid&, std::int64_t) override { }
    void finished(const QUuid&, const ShareResult& result) override { results.push_back(result); }
};

struct QuickShareRig {
    ControllerRig rig;
    QTemporaryDir downloads;
    bool hasDownloads = true;
    std::shared_ptr<FakeAdvertiser> advertiser = std::make_shared<FakeAdvertiser>();
    std::shared_ptr<FakePrompter> prompter = std::make_shared<FakePrompter>();
    std::shared_ptr<QuickShareReceiver> receiver
        = std::make_shared<QuickShareReceiver>(QuickShareReceiver::Environment { advertiser, {}, {}, 5000 });
    std::unique_ptr<AppState> state;

    QuickShareRig()
    {
        AppState::Services services = rig.services();
        services.quickShare = receiver;
        services.sharePrompter = prompter;
        services.downloadsFolder
            = [this] { return hasDownloads ? std::optional(downloads.path().toStdString()) : std::nullopt; };
        services.computerName = [] { return std::string("\u202EAna’s laptop\n"); };
        state = std::make_unique<AppState>(std::move(services));
        state->connectQuickShare();
    }
    bool waitStatus(const Status& status)
    {
        return waitUntil([&] { return state->quickShareStatus() == status; });
    }
};

TEST(AppStateQuickShare_Line, FollowsStatusAndSetting)
{
    const std::vector<std::tuple<Status, bool, std::optional<std::string>>> cases = {
        { Status::on("Ana’s laptop"), true, "📥 Phones on this Wi-Fi see this computer as “Ana’s laptop”" },
        { Status::failed("the Downloads folder wasn’t found"), true,
            "⚠️ Quick Share isn’t working: the Downloads folder wasn’t found" },
        { Status { Status::Kind::starting, {} }, true, "Quick Share: starting…" },
        { Status {}, true, "Quick Share: starting…" },
        { Status {}, false, std::nullopt },
    };
    ControllerRig rig;
    PlacedAppState state(rig.services());
    for (const auto& [status, on, line] : cases) {
        state.placeQuickShare(status, on);
        EXPECT_EQ(state.quickShareLine(), line);
    }
}

TEST(AppStateQuickShare_Switch, AdvertisesReceivesIntoDownloadsAndStops)
{
    QuickShareRig q;
    q.state->setQuickShareOn(true);
    ASSERT_TRUE(q.waitStatus(Status::on("Ana’s laptop")));
    EXPECT_TRUE(q.rig.defaults->readBool(AppState::kQuickShareReceive));

    ASSERT_EQ(q.advertiser->published.size(), 1u);
    const auto& service = q.advertiser->published[0];
    EXPECT_EQ(service.type, "_FC9F5ED42C8A._tcp");
    EXPECT_EQ(service.port, q.receiver->port());
    ASSERT_EQ(service.txt.size(), 1u);
    EXPECT_EQ(service.txt[0].first, "n");
    const auto info = QByteArray::fromBase64(QByteArray::fromStdString(service.txt[0].second),
        QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    EXPECT_EQ(EndpointInfo::decode(Bytes(info.begin(), info.end())),
        (EndpointInfo { "Ana’s laptop", EndpointInfo::Kind::computer }));
    const auto name = QByteArray::fromBase64(QByteArray::fromStdString(service.name),
        QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    ASSERT_EQ(service.name.size(), 14u);
    ASSERT_EQ(name.size(), 10);
    EXPECT_TRUE(name.startsWith('#') && name.endsWith(QByteArray("\xFC\x9F\x5E\x00\x00", 5)));
    EXPECT_TRUE(std::all_of(name.begin() + 1, name.begin() + 5, [](char c) { return std::isalnum(c); }));

    TestPhone phone(q.receiver->port());
    ASSERT_TRUE(phone.handshake());
    phone.sendSharing(
        SharingFrame { SharingFrame::Introduction { { { "note.txt", 3, 2, "" } }, {}, false } });
    phone.readSharing();
    phone.sendFile(3, { 'h', 'i' }, 2);
    ASSERT_TRUE(waitUntil([&] { return !q.prompter->results.empty(); }));
    EXPECT_EQ(q.prompter->asked.at(0).sender, "Pixel 8");
    EXPECT_EQ(q.prompter->results[0], ShareResult::saved({ q.downloads.filePath("note.txt").toStdString() }));

    q.state->setQuickShareOn(false);
    ASSERT_TRUE(q.waitStatus(Status {}));
    EXPECT_EQ(q.receiver->port(), 0);
    EXPECT_EQ(q.advertiser->withdrawn, 1);
    q.state->setQuickShareOn(true);
    ASSERT_TRUE(q.waitStatus(Status::on("Ana’s laptop")));
    EXPECT_NE(q.advertiser->published.at(1).name, service.name);
}

TEST(AppStateQuickShare_Switch, ReportsWhyItCannotReceive)
{
    QuickShareRig noFolder;
    noFolder.hasDownloads = false;
    noFolder.state->setQuickShareOn(true);
    EXPECT_EQ(noFolder.state->quickShareStatus(), Status::failed("the Downloads folder wasn’t found"));

    QuickShareRig noAvahi;
    const std::string reason = "phones can’t find this computer: the Avahi service isn’t running";
    noAvahi.advertiser->failure = reason;
    noAvahi.state->setQuickShareOn(true);
    ASSERT_TRUE(noAvahi.waitStatus(Status::failed(reason)));
    EXPECT_EQ(noAvahi.receiver->port(), 0); // nothing listens
}

TEST(AppStateQuickShare_Quit, ClosesTheListenerAndEveryConnectionBeforeReturning)
{
    QuickShareRig q;
    q.state->setQuickShareOn(true);
    ASSERT_TRUE(q.waitStatus(Status::on("Ana’s laptop")));
    TestPhone phone(q.receiver->port());
    ASSERT_TRUE(phone.handshake());
    q.state->cleanupForQuit();
    EXPECT_EQ(q.receiver->port(), 0);
    EXPECT_TRUE(phone.waitClosed());
}

} // namespace
} // namespace tessaly
