#include <atomic>
#include <sys/xattr.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "quickshare/QuickShareReceiver.h"
#include "support/TestPhone.h"

namespace tessaly {
namespace {

using test::TestPhone;
using test::waitUntil;
using Answer = SharingFrame::Answer;
using Kind = ShareResult::Kind;

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
    void advance(double seconds) { now = now.load() + seconds; }
};

SharingFrame introduction(
    std::vector<SharingFrame::FileOffer> files, std::vector<SharingFrame::TextOffer> texts = {})
{
    return SharingFrame { SharingFrame::Introduction { std::move(files), std::move(texts), false } };
}

Bytes pattern(std::size_t size)
{
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = std::uint8_t(i * 7 + i / 251);
    return data;
}

Bytes contents(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::ReadOnly);
    const QByteArray all = file.readAll();
    return Bytes(all.begin(), all.end());
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
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old");
    existing.close();

    TestPhone phone(rig.receiver.port());
    ASSERT_TRUE(phone.handshake());
    const Bytes photo = pattern(300'000);
    phone.sendSharing(
        introduction({ { "Photo.JPG", 1, 300'000, "image/jpeg" }, { "../../etc/a:b.txt", 2, 0, "" } }));
    ASSERT_EQ(answerHeard(phone), Answer::accept);
    ASSERT_EQ(rig.asks.size(), 1u);
    EXPECT_EQ(rig.asks[0].sender, "Pixel 8");
    EXPECT_EQ(rig.asks[0].code, phone.code());
    EXPECT_EQ(
        rig.asks[0].files, (std::vector<IncomingShare::File> { { "Photo.JPG", 300'000 }, { "a-b.txt", 0 } }));
    EXPECT_EQ(rig.asks[0].totalBytes, 300'000);

    phone.sendFile(1, photo, 65'536);
    phone.sendFile(2, {}, 1);
    ASSERT_TRUE(rig.waitResult());
    EXPECT_EQ(rig.results[0], ShareResult::saved({ rig.path("Photo (2).JPG"), rig.path("a-b.txt") }));
    EXPECT_EQ(contents(rig.path("Photo (2).JPG")), photo);
    EXPECT_EQ(contents(rig.path("photo.jpg")), Bytes({ 'o', 'l', 'd' }));
    EXPECT_TRUE(waitUntil([&] { return rig.progress == 300'000; }));
    EXPECT_TRUE(phone.waitClosed());

    char publisher[32] = {};
    const auto length
        = ::getxattr(rig.path("a-b.txt").c_str(), "user.xdg.publisher", publisher, sizeof publisher);
    if (length >= 0 || errno != ENOTSUP) {
        EXPECT_EQ(std::string(publisher, std::size_t(std::max<ssize_t>(length, 0))), "Tessaly");
    }
}

TEST(QuickShareReceiver_Text, ReturnsTextAndLinksWithoutStoringThem)
{
    using TextKind = SharingFrame::TextOffer::Kind;
    for (const auto& [kind, text, expected] :
        { std::tuple { TextKind::text, std::string("héllo"), ShareResult::receivedText("héllo") },
            std::tuple { TextKind::link, std::string("https://example.org/a"),
                ShareResult::receivedLink("https://example.org/a") } }) {
        Rig rig;
        TestPhone phone(rig.receiver.port());
        ASSERT_TRUE(phone.handshake());
        const auto size = std::int64_t(text.size());
        phone.sendSharing(introduction({}, { { "\u202Epreview\a", kind, 77, size } }));
        ASSERT_EQ(answerHeard(phone), Answer::accept);
        EXPECT_EQ(rig.asks[0].title, "preview");
        using Piece = OfflineFrame::PayloadPiece;
        phone.sendSecure(OfflineFrame {
            Piece { 77, Piece::Kind::bytes, size, 0, true, Bytes(text.begin(), text.end()) } });
        ASSERT_TRUE(rig.waitResult());
        EXPECT_EQ(rig.results[0], expected);
        EXPECT_TRUE(rig.files().isEmpty());
    }
}

// How a two-file share ends, and what stays in the save folder.
TEST(QuickShareReceiver_Endings, EachEndingReachesUserAndPhoneOnceAndLeavesNoPartialFile)
{
    using Piece = OfflineFrame::PayloadPiece;
    struct Case {
        const char* name;
        std::optional<bool> answer;
        std::function<void(Rig&, TestPhone&)> act; // after the answer
        ShareResult expected;
        std::optional<Answer> phoneHearsAnswer;
        bool phoneHearsCancel;
        QStringList left;
    };
    const auto sendSome = [](TestPhone& phone) {
        phone.sendFile(1, pattern(1000), 400);
        phone.sendFile(2, pattern(3000), 1000, false);
    };
    const auto stopShare = [](Rig& rig, TestPhone&) { rig.receiver.stopTransfer(rig.asks.at(0).id); };
    const std::vector<Case> cases = {
        { "decline", false, {}, ShareResult::of(Kind::declined), Answer::reject, false, {} },
        { "stop before answering", std::nullopt, stopShare, ShareResult::of(Kind::declined), std::nullopt,
            true, {} },
        { "stop mid-transfer", true,
            [&](Rig& rig, TestPhone& phone) {
                sendSome(phone);
                ASSERT_TRUE(phone.sync());
                stopShare(rig, phone);
            },
            ShareResult::of(Kind::stopped), Answer::accept, true, { "one.bin" } },
        { "phone cancels", true,
            [&](Rig&, TestPhone& phone) {
                phone.sendFile(2, pattern(3000), 1000, false);
                phone.sendSharing(SharingFrame { SharingFrame::Cancel {} });
            },
            ShareResult::of(Kind::cancelledByPhone), Answer::accept, false, {} },
        { "phone vanishes", true,
            [&](Rig&, TestPhone& phone) {
                sendSome(phone);
                ASSERT_TRUE(phone.sync());
                phone.vanish();
            },
            ShareResult::failed("the connection to the phone was lost. 1 of 2 files arrived before that"),
            Answer::accept, false, { "one.bin" } },
        { "piece out of place", true,
            [](Rig&, TestPhone& phone) {
                phone.sendSecure(OfflineFrame { Piece { 1, Piece::Kind::file, 1000, 10, false, Bytes(5) } });
            },
            ShareResult::failed("it sent more data than it announced"), Answer::accept, true, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.answer = c.answer;
        TestPhone phone(rig.receiver.port());
        ASSERT_TRUE(phone.handshake());
        phone.sendSharing(introduction({ { "one.bin", 1, 1000, "" }, { "two.bin", 2, 3000, "" } }));
        if (c.phoneHearsAnswer) {
            ASSERT_EQ(answerHeard(phone), c.phoneHearsAnswer);
        } else {
            ASSERT_TRUE(waitUntil([&] { return !rig.asks.empty(); }));
        }
        if (c.act)
            c.act(rig, phone);
        ASSERT_TRUE(rig.waitResult());
        EXPECT_EQ(rig.results[0], c.expected);
        if (c.phoneHearsCancel) {
            const auto frame = phone.readSharing();
            EXPECT_TRUE(frame && frame->as<SharingFrame::Cancel>());
        }
        waitUntil([] { return false; }, 0.05);
        EXPECT_EQ(rig.results.size(), 1u);
        EXPECT_EQ(rig.files(), c.left);
    }
}

TEST(QuickShareReceiver_Watchdog, EndsStalledConnectionsByStage)
{
    struct Case {
        const char* name;
        bool offer;
        std::optional<bool> answer;
        double quiet; // still open after this many seconds of silence
        double limit; // closed after this many
        std::optional<ShareResult> expected;
        std::optional<Answer> phoneHears;
    };
    const std::vector<Case> cases = {
        { "no introduction", false, std::nullopt, 29, 31, std::nullopt, std::nullopt },
        { "unanswered", true, std::nullopt, 119, 121, ShareResult::of(Kind::missed), Answer::timedOut },
        { "accepted, then silent", true, true, 44, 46, ShareResult::failed("the phone stopped sending"),
            std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.answer = c.answer;
        TestPhone phone(rig.receiver.port());
        ASSERT_TRUE(phone.handshake());
        if (c.offer)
            phone.sendSharing(introduction({ { "a.bin", 1, 10, "" } }));
        if (c.answer) {
            ASSERT_EQ(answerHeard(phone), Answer::accept);
        }
        ASSERT_TRUE(c.offer ? waitUntil([&] { return !rig.asks.empty(); }) : true);
        rig.advance(c.quiet);
        // Keep-alives go out every 10 s of quiet; the connection stays.
        EXPECT_FALSE(phone.readSecure(0.3).has_value());
        EXPECT_EQ(phone.keepAlivesHeard(), 1);
        EXPECT_TRUE(phone.isOpen());
        rig.advance(c.limit - c.quiet);
        if (c.phoneHears) {
            EXPECT_EQ(answerHeard(phone), c.phoneHears);
        }
        EXPECT_TRUE(phone.waitClosed());
        waitUntil([&] { return !rig.results.empty(); }, 0.2);
        EXPECT_EQ(rig.results, c.expected ? std::vector { *c.expected } : std::vector<ShareResult> {});
        EXPECT_TRUE(rig.files().isEmpty());
    }
}

TEST(QuickShareReceiver_Hostile, BadInputEndsQuietlyAndTheNextPhoneIsServed)
{
    Rig rig;
    const auto prefix = [](std::uint32_t n) {
        return Bytes { std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n) };
    };
    std::vector<SharingFrame::FileOffer> many;
    for (int i = 0; i < 501; ++i)
        many.push_back({ "f", i, 1, "" });
    const std::vector<std::pair<const char*, std::function<void(TestPhone&)>>> attacks = {
        { "zero length", [&](TestPhone& p) { p.sendRawBytes(prefix(0)); } },
        { "oversize length", [&](TestPhone& p) { p.sendRawBytes(prefix(5'242'881)); } },
        { "keep-alive first",
            [](TestPhone& p) { p.sendPrefixed(OfflineFrame { OfflineFrame::KeepAlive {} }.encoded()); } },
        { "garbage handshake",
            [](TestPhone& p) {
                p.sendPrefixed(
                    OfflineFrame { OfflineFrame::ConnectionRequest { "x", EndpointInfo { "a" }.encoded() } }
                        .encoded());
                p.sendPrefixed(Bytes { 1, 2, 3 });
                EXPECT_TRUE(p.readFrame().has_value()); // the alert
            } },
        { "plaintext after handshake",
            [](TestPhone& p) {
                ASSERT_TRUE(p.handshake());
                p.sendPrefixed(OfflineFrame { OfflineFrame::KeepAlive {} }.encoded());
            } },
        { "501 files",
            [&](TestPhone& p) {
                ASSERT_TRUE(p.handshake());
                p.sendSharing(introduction(many));
                EXPECT_EQ(answerHeard(p), Answer::unsupported);
            } },
        { "shared payload id",
            [](TestPhone& p) {
                ASSERT_TRUE(p.handshake());
                p.sendSharing(introduction({ { "a", 1, 1, "" }, { "b", 1, 1, "" } }));
                EXPECT_EQ(answerHeard(p), Answer::unsupported);
            } },
        { "text too long",
            [](TestPhone& p) {
                ASSERT_TRUE(p.handshake());
                p.sendSharing(
                    introduction({}, { { "t", SharingFrame::TextOffer::Kind::text, 5, 1'048'577 } }));
                EXPECT_EQ(answerHeard(p), Answer::unsupported);
            } },
        { "file before any offer",
            [](TestPhone& p) {
                ASSERT_TRUE(p.handshake());
                p.sendFile(9, pattern(10), 10);
            } },
        { "seventeen open messages",
            [](TestPhone& p) {
                ASSERT_TRUE(p.handshake());
                using Piece = OfflineFrame::PayloadPiece;
                for (std::int64_t id = 1; id <= 17; ++id)
                    p.sendSecure(OfflineFrame { Piece { id, Piece::Kind::bytes, 9, 0, false, Bytes(1) } });
            } },
    };
    for (const auto& [name, attack] : attacks) {
        SCOPED_TRACE(name);
        TestPhone phone(rig.receiver.port());
        attack(phone);
        EXPECT_TRUE(phone.waitClosed());
    }
    TestPhone honest(rig.receiver.port());
    ASSERT_TRUE(honest.handshake());
    honest.sendSharing(introduction({ { "ok.txt", 5, 2, "" } }));
    ASSERT_EQ(answerHeard(honest), Answer::accept);
    honest.sendFile(5, { 'o', 'k' }, 2);
    ASSERT_TRUE(rig.waitResult());
    EXPECT_EQ(rig.asks.size(), 1u);
    EXPECT_EQ(rig.results, std::vector { ShareResult::saved({ rig.path("ok.txt") }) });
    EXPECT_EQ(rig.files(), QStringList { "ok.txt" });
}

TEST(QuickShareReceiver_Admission, RefusesTheSeventhLiveConnection)
{
    Rig rig;
    std::vector<std::unique_ptr<TestPhone>> phones;
    for (int i = 0; i < 6; ++i) {
        phones.push_back(std::make_unique<TestPhone>(rig.receiver.port()));
        ASSERT_FALSE(phones.back()->waitClosed(0.1));
    }
    TestPhone seventh(rig.receiver.port());
    EXPECT_TRUE(seventh.waitClosed());
    phones.front().reset();
    waitUntil([] { return false; }, 0.1);
    TestPhone next(rig.receiver.port());
    EXPECT_TRUE(next.handshake());
}

TEST(QuickShareReceiver_Space, NeedsTheShareAndFiftyMegabytesFree)
{
    for (const auto& [spare, heard] :
        { std::pair { 49'999'999, Answer::notEnoughSpace }, std::pair { 50'000'000, Answer::accept } }) {
        Rig rig;
        rig.capacity = 1'000 + spare;
        TestPhone phone(rig.receiver.port());
        ASSERT_TRUE(phone.handshake());
        phone.sendSharing(introduction({ { "big.bin", 1, 1'000, "" } }));
        EXPECT_EQ(answerHeard(phone), heard);
        if (heard == Answer::notEnoughSpace) {
            ASSERT_TRUE(rig.waitResult());
            EXPECT_EQ(rig.results[0], ShareResult::failed("there isn’t enough free space on this computer"));
            EXPECT_TRUE(rig.files().isEmpty());
        }
    }
}

} // namespace
} // namespace tessaly
