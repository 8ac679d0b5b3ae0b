#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <sys/xattr.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "quickshare/QuickShareReceiver.h"
#include "support/AllocationMeter.h"
#include "support/TestPhone.h"

namespace tessaly {
namespace {

using test::TestPhone;
using test::waitUntil;
using Answer = SharingFrame::Answer;
using Kind = ShareResult::Kind;
using Piece = OfflineFrame::PayloadPiece;

// The receiver on 127.0.0.1 with a hand-moved clock, answering offers as `answer` says.
struct Rig {
    QTemporaryDir dir;
    std::atomic<double> now { 1000 };
    std::atomic<std::int64_t> capacity { INT64_MAX };
    std::optional<bool> answer = true;
    std::vector<IncomingShare> asks;
    std::vector<ShareResult> results;
    std::int64_t progress = 0;
    QuickShareReceiver receiver { { nullptr, [this] { return now.load(); },
        [this](const std::string&) { return std::optional<std::int64_t>(capacity.load()); }, 10 } };

    Rig()
    {
        receiver.onRequest = [this](const IncomingShare& share) {
            asks.push_back(share);
            if (answer)
                receiver.answer(share.id, *answer);
        };
        receiver.onProgress = [this](const QUuid&, std::int64_t bytes) { progress = bytes; };
        receiver.onFinished = [this](const QUuid&, const ShareResult& result) { results.push_back(result); };
        receiver.start({ "Test computer", dir.path().toStdString(), false, 0 });
        waitUntil([this] { return receiver.port() != 0; });
    }
    std::string path(const char* name) const { return dir.filePath(QString::fromUtf8(name)).toStdString(); }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }
    bool waitResult()
    {
        return waitUntil([this] { return !results.empty(); });
    }
};

SharingFrame offer(
    std::vector<SharingFrame::FileOffer> files, std::vector<SharingFrame::TextOffer> texts = {})
{
    return SharingFrame { SharingFrame::Introduction { std::move(files), std::move(texts), false } };
}

Bytes pattern(std::size_t size)
{
    Bytes data(size);
    // A prime period: a piece written at the wrong place would show.
    std::generate(data.begin(), data.end(), [n = 0u]() mutable { return std::uint8_t(n++ % 251); });
    return data;
}

std::optional<Answer> answerHeard(TestPhone& phone)
{
    const auto frame = phone.readSharing();
    const auto* response = frame ? frame->as<SharingFrame::Response>() : nullptr;
    return response ? std::optional(response->answer) : std::nullopt;
}

TEST(QuickShareReceiver_Files, SavesUnderFreeCleanNamesWithProgressAndMark)
{
    Rig rig;
    QFile existing(QString::fromStdString(rig.path("photo.jpg")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly) && existing.write("old") == 3);
    existing.close();
    QTemporaryDir elsewhere;
    const std::string victim = elsewhere.filePath("victim").toStdString();
    ASSERT_TRUE(QFile::link(QString::fromStdString(victim), QString::fromStdString(rig.path("a-b.txt"))));
    TestPhone phone(rig.receiver.port());
    ASSERT_TRUE(phone.handshake());
    phone.sendSharing(
        offer({ { "Photo.JPG", 1, 300'000, "" }, { std::string("../../etc/a:\0b.txt", 18), 2, 0, "" } }));
    ASSERT_EQ(answerHeard(phone), Answer::accept);
    EXPECT_EQ(rig.asks.at(0).sender, "Pixel 8");
    EXPECT_EQ(rig.asks[0].code, phone.code());
    EXPECT_EQ(
        rig.asks[0].files, (std::vector<IncomingShare::File> { { "Photo.JPG", 300'000 }, { "a-b.txt", 0 } }));

    // The mark goes on the file received, even when its name has been pointed elsewhere meanwhile.
    ASSERT_EQ(::rename(rig.path("a-b (2).txt").c_str(), rig.path("moved.txt").c_str()), 0);
    ASSERT_TRUE(QFile::link(QString::fromStdString(victim), QString::fromStdString(rig.path("a-b (2).txt"))));
    phone.sendFile(1, pattern(300'000), 65'536);
    phone.sendFile(2, {}, 1);
    ASSERT_TRUE(rig.waitResult());
    EXPECT_EQ(rig.results[0], ShareResult::saved({ rig.path("Photo (2).JPG"), rig.path("a-b (2).txt") }));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(victim)));
    QFile saved(QString::fromStdString(rig.path("Photo (2).JPG")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), pattern(300'000));
    EXPECT_TRUE(waitUntil([&] { return rig.progress == 300'000; }));
    EXPECT_TRUE(phone.waitClosed());
    char publisher[16] = {};
    const auto n
        = ::getxattr(rig.path("moved.txt").c_str(), "user.xdg.publisher", publisher, sizeof publisher);
    EXPECT_TRUE(n == 7 ? std::string(publisher) == "Tessaly" : errno == ENOTSUP);
}

// How a two-file share ends, what each side hears, and what stays in the save folder.
TEST(QuickShareReceiver_Endings, EachEndingIsReportedOnceAndLeavesNoPartialFile)
{
    struct Case {
        const char* name;
        std::optional<bool> answer;
        std::int64_t spare; // free space beyond the share
        std::function<void(Rig&, TestPhone&)> act;
        ShareResult expected;
        std::optional<Answer> phoneHears;
        bool phoneHearsCancel;
        QStringList left;
    };
    const auto partly = [](TestPhone& phone) {
        phone.sendFile(1, pattern(1000), 400);
        phone.sendFile(2, pattern(3000), 1000, false);
        ASSERT_TRUE(phone.sync());
    };
    const auto stop = [](Rig& rig, TestPhone&) { rig.receiver.stopTransfer(rig.asks.at(0).id); };
    const std::int64_t room = 50'000'000; // every accepted case runs with exactly this to spare
    const std::vector<Case> cases = {
        { "decline", false, room, {}, ShareResult::of(Kind::declined), Answer::reject, false, {} },
        { "no room", true, room - 1, {},
            ShareResult::failed("there isn’t enough free space on this computer"), Answer::notEnoughSpace,
            false, {} },
        { "stop before answering", std::nullopt, room, stop, ShareResult::of(Kind::declined), {}, true, {} },
        { "stop mid-transfer", true, room,
            [&](Rig& rig, TestPhone& phone) { partly(phone), stop(rig, phone); },
            ShareResult::of(Kind::stopped), Answer::accept, true, { "one.bin" } },
        { "phone cancels", true, room,
            [](Rig&, TestPhone& phone) { phone.sendSharing(SharingFrame { SharingFrame::Cancel {} }); },
            ShareResult::of(Kind::cancelledByPhone), Answer::accept, false, {} },
        { "phone vanishes", true, room, [&](Rig&, TestPhone& phone) { partly(phone), phone.vanish(); },
            ShareResult::failed("the connection to the phone was lost. 1 of 2 files arrived before that"),
            Answer::accept, false, { "one.bin" } },
        { "piece out of place", true, room,
            [](Rig&, TestPhone& phone) {
                phone.sendSecure(OfflineFrame { Piece { 1, Piece::Kind::file, 1000, 10, false, Bytes(5) } });
            },
            ShareResult::failed("it sent more data than it announced"), Answer::accept, true, {} },
        { "piece past the size", true, room,
            [](Rig&, TestPhone& phone) { phone.sendFile(1, pattern(1001), 1001); },
            ShareResult::failed("it sent more data than it announced"), Answer::accept, true, {} },
        { "data after the last piece", true, room,
            [](Rig&, TestPhone& phone) {
                phone.sendFile(1, pattern(1000), 1000);
                phone.sendSecure(OfflineFrame { Piece { 1, Piece::Kind::file, 1000, 1000, true, Bytes(1) } });
            },
            ShareResult::failed("it sent a file that wasn’t offered. 1 of 2 files arrived before that"),
            Answer::accept, true, { "one.bin" } },
        { "piece before the answer", std::nullopt, room,
            [](Rig&, TestPhone& phone) { phone.sendFile(1, pattern(1000), 1000); },
            ShareResult::failed("it sent a file that wasn’t offered"), {}, false, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.answer = c.answer;
        rig.capacity = 4000 + c.spare;
        TestPhone phone(rig.receiver.port());
        ASSERT_TRUE(phone.handshake());
        phone.sendSharing(offer({ { "one.bin", 1, 1000, "" }, { "two.bin", 2, 3000, "" } }));
        ASSERT_TRUE(
            c.phoneHears ? answerHeard(phone) == c.phoneHears : waitUntil([&] { return !rig.asks.empty(); }));
        if (c.act)
            c.act(rig, phone);
        ASSERT_TRUE(rig.waitResult());
        EXPECT_EQ(rig.results[0], c.expected);
        if (c.phoneHearsCancel) {
            const auto frame = phone.readSharing();
            EXPECT_TRUE(frame && frame->as<SharingFrame::Cancel>());
        }
        EXPECT_TRUE(phone.waitClosed());
        EXPECT_EQ(rig.results.size(), 1u);
        EXPECT_EQ(rig.files(), c.left);
    }
}

TEST(QuickShareReceiver_Watchdog, EndsStalledConnectionsByStage)
{
    const std::vector<std::tuple<const char*, bool, std::optional<bool>, double, std::vector<ShareResult>>>
        cases = {
            { "no introduction", false, std::nullopt, 30, {} },
            { "unanswered", true, std::nullopt, 120, { ShareResult::of(Kind::missed) } },
            { "accepted, then silent", true, true, 45, { ShareResult::failed("the phone stopped sending") } },
        };
    for (const auto& [name, offers, answer, limit, expected] : cases) {
        SCOPED_TRACE(name);
        Rig rig;
        rig.answer = answer;
        TestPhone phone(rig.receiver.port());
        ASSERT_TRUE(phone.handshake());
        if (offers)
            phone.sendSharing(offer({ { "a.bin", 1, 10, "" } }));
        ASSERT_TRUE(answer ? answerHeard(phone) == Answer::accept
                           : !offers || waitUntil([&] { return !rig.asks.empty(); }));
        rig.now = rig.now + limit - 1;
        EXPECT_FALSE(phone.readSecure(0.3).has_value()); // only a keep-alive, once per 10 s of quiet
        EXPECT_EQ(phone.keepAlivesHeard(), 1);
        rig.now = rig.now + 2;
        if (offers && !answer) {
            EXPECT_EQ(answerHeard(phone), Answer::timedOut);
        }
        EXPECT_TRUE(phone.waitClosed());
        waitUntil([&] { return !rig.results.empty(); }, 0.2);
        EXPECT_EQ(rig.results, expected);
    }
}

TEST(QuickShareReceiver_Hostile, BadInputEndsQuietlyAndTheNextPhoneIsServed)
{
    Rig rig;
    const auto attack = [&](const std::function<void(TestPhone&)>& act) {
        TestPhone phone(rig.receiver.port());
        act(phone);
        EXPECT_TRUE(phone.waitClosed());
    };
    const Bytes keepAlive = OfflineFrame { OfflineFrame::KeepAlive {} }.encoded();
    Bytes keepAliveFirst { 0, 0, 0, std::uint8_t(keepAlive.size()) };
    keepAliveFirst.insert(keepAliveFirst.end(), keepAlive.begin(), keepAlive.end());
    for (const Bytes& bytes :
        { Bytes { 0, 0, 0, 0 }, Bytes { 0, 0x50, 0, 1 }, Bytes { 0xFF, 0xFF, 0xFF, 0xFF }, keepAliveFirst })
        attack([&](TestPhone& p) { p.sendRawBytes(bytes); });
    attack([](TestPhone& p) {
        p.sendPrefixed(
            OfflineFrame { OfflineFrame::ConnectionRequest { "x", EndpointInfo { "a" }.encoded() } }
                .encoded());
        p.sendPrefixed({ 1, 2, 3 }); // not a client-init
        EXPECT_TRUE(p.readFrame().has_value()); // the alert
    });

    std::vector<SharingFrame::FileOffer> many(501, { "f", 0, 1, "" });
    for (std::size_t i = 0; i < many.size(); ++i)
        many[i].payloadID = std::int64_t(i);
    for (const SharingFrame& intro : { offer(many), offer({ { "a", 1, 1, "" }, { "b", 1, 1, "" } }),
             offer({}, { { "t", {}, 5, 1'048'577 } }) })
        attack([&](TestPhone& p) {
            ASSERT_TRUE(p.handshake());
            p.sendSharing(intro);
            EXPECT_EQ(answerHeard(p), Answer::unsupported);
        });

    // A file nobody offered; more byte payloads open at once than any share needs.
    std::vector<OfflineFrame> pending;
    for (std::int64_t id = 1; id <= 17; ++id)
        pending.push_back(OfflineFrame { Piece { id, Piece::Kind::bytes, 9, 0, false, Bytes(1) } });
    for (const auto& frames :
        { std::vector { OfflineFrame { Piece { 9, Piece::Kind::file, 1, 0, true, Bytes(1) } } }, pending })
        attack([&](TestPhone& p) {
            ASSERT_TRUE(p.handshake());
            for (const auto& frame : frames)
                p.sendSecure(frame);
        });
    // A frame sent again after a later one: its sequence number goes back.
    attack([](TestPhone& p) {
        ASSERT_TRUE(p.handshake());
        const Bytes earlier = p.seal(OfflineFrame { OfflineFrame::KeepAlive { true } });
        p.sendPrefixed(earlier);
        p.sendSecure(OfflineFrame { OfflineFrame::KeepAlive { true } });
        p.sendPrefixed(earlier);
    });

    TestPhone honest(rig.receiver.port());
    ASSERT_TRUE(honest.handshake());
    honest.sendSharing(offer({ { "ok.txt", 5, 2, "" } }));
    ASSERT_EQ(answerHeard(honest), Answer::accept);
    honest.sendFile(5, { 'o', 'k' }, 2);
    ASSERT_TRUE(rig.waitResult());
    EXPECT_EQ(rig.asks.size(), 1u);
    EXPECT_EQ(rig.results, std::vector { ShareResult::saved({ rig.path("ok.txt") }) });
    EXPECT_EQ(rig.files(), QStringList { "ok.txt" });
}

QHostAddress loopback(int host)
{
    return QHostAddress(QStringLiteral("127.0.0.%1").arg(host));
}

TEST(QuickShareReceiver_Admission, TwoConnectionsPerAddressSixInAllOneOpenPromptPerAddress)
{
    Rig rig;
    rig.answer.reset();
    std::vector<std::unique_ptr<TestPhone>> phones;
    for (int host : { 2, 2, 3, 3, 4, 4 })
        phones.push_back(std::make_unique<TestPhone>(rig.receiver.port(), loopback(host)));
    EXPECT_FALSE(phones.back()->waitClosed(0.2));
    for (int host : { 2, 5 }) {
        TestPhone refused(rig.receiver.port(), loopback(host));
        EXPECT_TRUE(refused.waitClosed()) << host;
    }
    phones[5].reset();
    waitUntil([] { return false; }, 0.1);
    phones[5] = std::make_unique<TestPhone>(rig.receiver.port(), loopback(5));

    // The second offer from one address waits unseen while the first is open; one that ends
    // unseen is never reported.
    for (std::size_t i = 0; i < phones.size(); ++i)
        ASSERT_TRUE(phones[i]->handshake("phone " + std::to_string(i)));
    for (std::int64_t i = 0; i < 4; ++i)
        phones[std::size_t(i)]->sendSharing(offer({ { "a.bin", i, 1, "" } }));
    ASSERT_TRUE(waitUntil([&] { return rig.asks.size() == 2; }));
    EXPECT_FALSE(waitUntil([&] { return rig.asks.size() > 2; }, 0.3));
    phones[3]->vanish();
    rig.receiver.answer(rig.asks[0].id, false);
    EXPECT_EQ(answerHeard(*phones[0]), Answer::reject);
    ASSERT_TRUE(waitUntil([&] { return rig.asks.size() == 3; }));
    EXPECT_EQ(rig.asks[2].sender, "phone 1");
    rig.receiver.answer(rig.asks[2].id, true);
    EXPECT_EQ(answerHeard(*phones[1]), Answer::accept);
    EXPECT_FALSE(waitUntil([&] { return rig.results.size() > 1; }, 0.3));
    EXPECT_EQ(rig.results, std::vector { ShareResult::of(Kind::declined) });
}

// Six connections that never get an answer push sixteen 5 MiB payloads each.
TEST(QuickShareReceiver_Memory, UnansweredPhonesHoldLittleAndGiveItBack)
{
    Rig rig;
    rig.answer.reset();
    const auto resident = [] {
        long pages = 0, inMemory = 0;
        std::ifstream("/proc/self/statm") >> pages >> inMemory;
        return inMemory * sysconf(_SC_PAGESIZE);
    };
    std::vector<std::unique_ptr<TestPhone>> phones;
    for (int i = 0; i < 6; ++i) {
        phones.push_back(std::make_unique<TestPhone>(rig.receiver.port(), loopback(2 + i / 2)));
        ASSERT_TRUE(phones.back()->handshake());
    }
    // Measured from here, so that the first connections' one-time costs don't count.
    const long before = resident();
    const std::size_t growth = test::peakGrowth([&] {
        const Bytes body(1 << 20, 0x5A);
        for (std::int64_t payload = 0; payload < 16; ++payload)
            for (const auto& phone : phones)
                for (std::int64_t offset = 0; offset < (5 << 20) && phone->isOpen(); offset += 1 << 20) {
                    phone->sendSecure(
                        OfflineFrame { Piece { payload, Piece::Kind::bytes, 5 << 20, offset, false, body } });
                    phone->drain(0);
                }
        for (const auto& phone : phones)
            EXPECT_TRUE(phone->waitClosed());
    });
    EXPECT_LE(rig.receiver.buffers().peak(), QuickShareReceiver::kBufferLimit);
    EXPECT_TRUE(waitUntil([&] { return rig.receiver.buffers().used() == 0; }));
    EXPECT_TRUE(rig.asks.empty() && rig.results.empty());
    if (!test::allocationsMeasured())
        return;
    EXPECT_LT(growth, 64u << 20);
    waitUntil([] { return false; }, 0.2);
    EXPECT_LT(resident() - before, 16l << 20);
}

// An answer that reaches a connection after it ended (the phone cancelled first) does nothing.
TEST(QuickShareInbound_Answer, AnAnswerAfterTheEndCreatesNothing)
{
    QTemporaryDir dir;
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    TestPhone phone(server.serverPort());
    ASSERT_TRUE(waitUntil([&] { return server.hasPendingConnections(); }));
    int finished = 0;
    QuickShareInbound::Events events;
    events.finished = [&](const QUuid&, const std::optional<ShareResult>&) { ++finished; };
    QuickShareInbound inbound(
        server.nextPendingConnection(), { dir.path().toStdString(), {}, {}, {}, 5000, {} }, events);
    // The ended connection hands its closing socket to this parent, as the receiver's does.
    inbound.setParent(&server);
    inbound.start();
    ASSERT_TRUE(phone.handshake());
    phone.sendSharing(offer({ { "a.bin", 1, 10, "" } }));
    phone.sendSharing(SharingFrame { SharingFrame::Cancel {} });
    ASSERT_TRUE(waitUntil([&] { return inbound.stage() == QuickShareInbound::Stage::closed; }));
    inbound.answer(true);
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

// The advertiser of a listener that was switched off may still report; only the current one counts.
TEST(QuickShareReceiver_Switch, ALaterListenerIgnoresTheEarlierOnesAdvertiser)
{
    struct HeldAdvertiser : ServiceAdvertiser {
        std::mutex mutex;
        std::vector<Handlers> handlers;
        void publish(Service, std::function<std::string()>, Handlers given) override
        {
            const std::lock_guard lock(mutex);
            handlers.push_back(std::move(given));
        }
        void withdraw() override { }
        std::size_t count()
        {
            const std::lock_guard lock(mutex);
            return handlers.size();
        }
    };
    using Status = QuickShareReceiver::Status;
    QTemporaryDir dir;
    const auto advertiser = std::make_shared<HeldAdvertiser>();
    QuickShareReceiver receiver({ advertiser, {}, {}, 5000 });
    std::vector<Status> statuses;
    receiver.onStatus = [&](const Status& status) { statuses.push_back(status); };
    for (std::size_t round = 1; round <= 2; ++round) {
        receiver.stop();
        receiver.start({ "A", dir.path().toStdString(), true, 0 });
        ASSERT_TRUE(waitUntil([&] { return advertiser->count() == round; }));
    }
    advertiser->handlers[0].failed("gone");
    advertiser->handlers[1].established("A");
    ASSERT_TRUE(waitUntil([&] { return statuses.size() == 5; }));
    EXPECT_FALSE(waitUntil([&] { return statuses.size() > 5; }, 0.2));
    EXPECT_EQ(statuses.back(), Status::on("A"));
}

} // namespace
} // namespace tessaly
