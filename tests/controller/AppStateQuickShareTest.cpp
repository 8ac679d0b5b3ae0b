#include <QByteArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/ControllerFakes.h"
#include "support/QuickShareFakes.h"
#include "support/TestPhone.h"

namespace tessaly {
namespace {

using namespace test;
using Status = QuickShareReceiver::Status;

struct QuickShareRig {
    ControllerRig rig;
    QTemporaryDir downloads;
    std::shared_ptr<FakeAdvertiser> advertiser = std::make_shared<FakeAdvertiser>();
    std::shared_ptr<QuickShareReceiver> receiver
        = std::make_shared<QuickShareReceiver>(QuickShareReceiver::Environment { advertiser, {}, {}, 5000 });
    std::unique_ptr<AppState> state;

    QuickShareRig()
    {
        AppState::Services services = rig.services();
        services.quickShare = receiver;
        services.downloadsFolder = [this] { return std::optional(downloads.path().toStdString()); };
        services.computerName = [] { return std::string("\u202EAna’s laptop\n"); };
        state = std::make_unique<AppState>(std::move(services));
        state->connectQuickShare();
    }
    bool switchOn(const Status& expected)
    {
        state->setQuickShareOn(true);
        return waitUntil([&] { return state->quickShareStatus() == expected; });
    }
};

const Status kOn = Status::on("Ana’s laptop");

TEST(AppStateQuickShare_Switch, AdvertisesTheCleanedNameAndStopsListening)
{
    QuickShareRig q;
    ASSERT_TRUE(q.switchOn(kOn));
    EXPECT_TRUE(q.rig.defaults->readBool(AppState::kQuickShareReceive));
    const auto service = q.advertiser->published.at(0);
    const auto decoded = [](const std::string& text) {
        const auto bytes
            = QByteArray::fromBase64(QByteArray::fromStdString(text), QByteArray::Base64UrlEncoding);
        return Bytes(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(service.type + ":" + std::to_string(service.port),
        "_FC9F5ED42C8A._tcp:" + std::to_string(q.receiver->port()));
    ASSERT_EQ(service.txt.size(), 1u);
    EXPECT_EQ(EndpointInfo::decode(decoded(service.txt[0].second)),
        (EndpointInfo { "Ana’s laptop", EndpointInfo::Kind::computer }));
    // "#", four letters or digits, then the service's id bytes; 14 characters of URL-safe Base64.
    const Bytes name = decoded(service.name);
    ASSERT_TRUE(service.name.size() == 14 && name.size() == 10 && name[0] == '#');
    EXPECT_TRUE(
        std::all_of(name.begin() + 1, name.begin() + 5, [](std::uint8_t c) { return std::isalnum(c); }));
    EXPECT_EQ(Bytes(name.begin() + 5, name.end()), (Bytes { 0xFC, 0x9F, 0x5E, 0, 0 }));

    q.state->setQuickShareOn(false);
    ASSERT_TRUE(
        waitUntil([&] { return q.state->quickShareStatus() == Status {} && q.receiver->port() == 0; }));
    ASSERT_TRUE(q.switchOn(kOn));
    EXPECT_NE(q.advertiser->published.at(1).name, service.name);
    TestPhone waiting(q.receiver->port());
    ASSERT_TRUE(waiting.handshake());
    q.state->cleanupForQuit();
    EXPECT_TRUE(q.receiver->port() == 0 && waiting.waitClosed());
}

TEST(AppStateQuickShare_Switch, WithoutAvahiNothingListens)
{
    QuickShareRig noAvahi;
    noAvahi.advertiser->failure = "phones can’t find this computer: the Avahi service isn’t running";
    EXPECT_TRUE(noAvahi.switchOn(Status::failed(*noAvahi.advertiser->failure)));
    EXPECT_EQ(noAvahi.receiver->port(), 0); // nothing listens
}

} // namespace
} // namespace tessaly
