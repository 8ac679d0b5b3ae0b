#include <gtest/gtest.h>

#include "controller/WirelessPairing.h"
#include "support/ControllerFakes.h"
#include "support/FakeServiceBrowser.h"

namespace tessaly {
namespace {

using namespace test;
using Stage = WirelessPairing::Stage;
using Calls = std::vector<std::vector<std::string>>;

const std::string kPairType = "_adb-tls-pairing._tcp";
const std::string kConnectType = "_adb-tls-connect._tcp";
const std::string kNewAdb = "Android Debug Bridge version 1.0.41\nVersion 35.0.1-11580240\n"
                            "Installed as /home/u/Android/Sdk/platform-tools/adb\n";
const std::string kPaired = "Successfully paired to 192.168.1.23:37105 [guid=adb-R58M-AbCdEf]";

// A pairing over the stand-in adb and a fake network, with waits of a fraction of a second.
struct Pairing {
    ControllerRig rig;
    std::unique_ptr<AppState> state;
    FakeBrowsing network;
    std::unique_ptr<WirelessPairing> pairing;

    explicit Pairing(const std::string& version = kNewAdb)
    {
        rig.adb.on({ "version" }, { .out = version });
        rig.adb.onPrefix({ "pair" }, { .out = kPaired });
        rig.adb.on({ "connect", "192.168.1.23:41234" }, { .out = "connected to 192.168.1.23:41234" });
        rig.adb.on({ "devices", "-l" },
            { .out = "List of devices attached\n192.168.1.23:41234 device product:p model:Pixel_7 "
                     "device:d transport_id:2\n" });
        state = rig.make();
        pairing = std::make_unique<WirelessPairing>(*state, network.factory(),
            WirelessPairing::Limits { .scanWait = 0.3, .connectServiceWait = 0.3, .pollMs = 5 });
    }
    bool reaches(Stage stage)
    {
        return waitFor([&] { return pairing->stage() == stage; });
    }
    // The phone scanned the code: it announces the pairing service under the code's name.
    void phoneScans(const std::string& address = "192.168.1.23")
    {
        network.resolve(kPairType, pairing->serviceName(), address, 37105);
    }
    std::string password() const
    {
        const std::string qr = pairing->qrText();
        const auto from = qr.find(";P:") + 3;
        return qr.substr(from, qr.size() - 2 - from);
    }
    bool ran(const std::string& command) const
    {
        for (const auto& call : rig.adb.calls())
            if (call.front() == command)
                return true;
        return false;
    }
};

TEST(WirelessPairing, PairsTheAnnouncedPhoneAndConnectsItLikeGoWireless)
{
    Pairing p;
    p.pairing->start();
    ASSERT_TRUE(p.reaches(Stage::waiting));
    EXPECT_EQ(p.network.types, (std::vector { kPairType, kConnectType }));
    // The connect service comes first here; another computer's code is not ours to pair.
    p.network.resolve(kConnectType, "adb-R58M-x5Tq", "192.168.1.23", 41234);
    p.network.resolve(kPairType, "studio-Xyz", "192.168.1.50", 37000);
    p.phoneScans();
    ASSERT_TRUE(p.reaches(Stage::connected));

    EXPECT_EQ(p.rig.adb.calls(),
        (Calls { { "version" }, { "pair", "192.168.1.23:37105", p.password() },
            { "connect", "192.168.1.23:41234" }, { "devices", "-l" } }));
    EXPECT_EQ(p.pairing->status(), "Paired and connected to Pixel_7");
    EXPECT_EQ(p.rig.defaults->readString(AppState::kLastPhoneIP), "192.168.1.23");
    EXPECT_TRUE(p.rig.defaults->object(AppState::kLastWasHotspot).has_value());
    EXPECT_FALSE(p.rig.defaults->readBool(AppState::kLastWasHotspot));
    EXPECT_EQ(p.state->devices().size(), 1U);
    EXPECT_FALSE(p.network.browsing());
}

TEST(WirelessPairing, IgnoresWhatIsNotItsPhoneAndSaysWhyWhenTheWaitEnds)
{
    const struct {
        const char* arrives;
        std::function<void(Pairing&)> play;
        std::string title;
    } cases[] = {
        { "another instance name",
            [](Pairing& p) { p.network.resolve(kPairType, "studio-Q", "192.168.1.5", 37000); },
            "Your phone didn’t answer within 2 minutes." },
        { "a public address", [](Pairing& p) { p.phoneScans("192.0.2.7"); },
            "Your phone isn’t on a home network." },
        { "a resolve failure",
            [](Pairing& p) { p.network.handlers.unresolved(kPairType, p.pairing->serviceName()); },
            "Your phone scanned the code, but its address couldn’t be found." },
        { "no Avahi", [](Pairing& p) { p.network.handlers.failed("the Avahi service isn’t running"); },
            "Tessaly can’t look for your phone." },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arrives);
        Pairing p;
        p.pairing->start();
        ASSERT_TRUE(p.reaches(Stage::waiting));
        c.play(p);
        ASSERT_TRUE(p.reaches(Stage::failed));
        EXPECT_EQ(p.pairing->error()->title, c.title);
        EXPECT_EQ(p.pairing->status(), c.title);
        EXPECT_FALSE(p.ran("pair"));
        EXPECT_FALSE(p.network.browsing());
    }
}

TEST(WirelessPairing, FailuresAfterTheScanAreFriendlyErrorsWithTheToolOutput)
{
    const std::string wrongPassword = "Failed: Wrong password or connection was dropped.";
    const struct {
        StandInTool::Answer pair;
        bool connectAnnounced;
        StandInTool::Answer connect;
        std::string title, details;
    } cases[] = {
        { { .err = wrongPassword, .exitCode = 1 }, true, {}, "Pairing didn’t work.", wrongPassword },
        { { .out = kPaired }, false, {}, "Paired, but the phone didn’t offer a connection.", "" },
        { { .out = kPaired }, true,
            { .out = "failed to connect to '192.168.1.23:41234': Connection refused" },
            "Paired, but couldn’t connect.",
            "failed to connect to '192.168.1.23:41234': Connection refused" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        Pairing p;
        p.rig.adb.onPrefix({ "pair" }, c.pair);
        p.rig.adb.on({ "connect", "192.168.1.23:41234" }, c.connect);
        p.pairing->start();
        ASSERT_TRUE(p.reaches(Stage::waiting));
        if (c.connectAnnounced)
            p.network.resolve(kConnectType, "adb-R58M-x5Tq", "192.168.1.23", 41234);
        p.phoneScans();
        ASSERT_TRUE(p.reaches(Stage::failed));
        EXPECT_EQ(p.pairing->error(), (FriendlyError { c.title, p.pairing->error()->advice, c.details }));
        EXPECT_FALSE(p.rig.defaults->readString(AppState::kLastPhoneIP).has_value());
    }
}

TEST(WirelessPairing, AnAdbWithoutPairIsToldOnceAndHowToGetANewerOne)
{
    const struct {
        std::string version;
        std::string title;
    } cases[] = {
        { "Android Debug Bridge version 1.0.41\nVersion 29.0.6-debian\n",
            "This needs adb 30 or later. Your adb is 29.0.6-debian." },
        // Unreadable: only `pair` itself tells.
        { "", "This needs adb 30 or later. Your adb is older than 30." },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        Pairing p(c.version);
        p.rig.adb.onPrefix({ "pair" }, { .err = "adb: unknown command pair", .exitCode = 1 });
        for (int opening = 0; opening < 2; ++opening) {
            p.pairing->start();
            ASSERT_TRUE(waitFor(
                [&] { return p.pairing->stage() == Stage::waiting || p.pairing->stage() == Stage::failed; }));
            if (p.pairing->stage() == Stage::waiting)
                p.phoneScans();
            ASSERT_TRUE(p.reaches(Stage::failed));
            EXPECT_EQ(p.pairing->error()->title, c.title);
            EXPECT_TRUE(p.pairing->needsNewerAdb());
            EXPECT_NE(p.pairing->error()->advice.find("~/Android/Sdk/platform-tools/adb"), std::string::npos);
        }
        const Calls calls = p.rig.adb.calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), std::vector<std::string> { "version" }), 1);
    }
}

TEST(WirelessPairing, CancelStopsBrowsingAndThePairUnderWay)
{
    Pairing p;
    p.rig.adb.onPrefix({ "pair" }, { .out = kPaired, .delay = 0.5 });
    p.pairing->start();
    ASSERT_TRUE(p.reaches(Stage::waiting));
    p.network.resolve(kConnectType, "adb-R58M-x5Tq", "192.168.1.23", 41234);
    p.phoneScans();
    ASSERT_TRUE(p.reaches(Stage::pairing));
    p.pairing->cancel();
    EXPECT_FALSE(p.network.browsing());
    waitFor([] { return false; }, 900);
    EXPECT_EQ(p.pairing->stage(), Stage::idle);
    EXPECT_FALSE(p.ran("connect"));

    const std::string first = p.pairing->qrText();
    p.pairing->start();
    EXPECT_NE(p.pairing->qrText(), first);
    EXPECT_NE(p.pairing->qrText().find(p.pairing->serviceName()), std::string::npos);
}

} // namespace
} // namespace tessaly
