#include <gtest/gtest.h>

#include "support/PairingRig.h"

namespace tessaly {
namespace {

using namespace test;
using Stage = WirelessPairing::Stage;
using Calls = std::vector<std::vector<std::string>>;

const std::string kPairType = "_adb-tls-pairing._tcp";
const std::string kConnectType = "_adb-tls-connect._tcp";
const std::string kPaired = "Successfully paired to 192.168.1.23:37105 [guid=adb-R58M-AbCd]";

// Started, and past its look at adb's version.
struct Pairing : PairingRig {
    explicit Pairing(const std::string& version = "Version 35.0.1-11580240")
        : PairingRig(version, 0.3)
    {
        pairing->start();
        EXPECT_TRUE(waitFor([&] { return pairing->stage() != Stage::checkingAdb; }));
    }
};

TEST(WirelessPairing, PairsTheAnnouncedPhoneAndConnectsItLikeGoWireless)
{
    Pairing p;
    ASSERT_EQ(p.pairing->stage(), Stage::waiting);
    EXPECT_EQ(p.network.types, (std::vector { kPairType, kConnectType }));
    // Another computer's code is not ours to pair.
    p.network.resolve(kPairType, "studio-Xyz", "192.168.1.50", 37000);
    p.phoneScans();
    ASSERT_TRUE(p.reaches(Stage::connected));

    const std::string qr = p.pairing->qrText();
    const std::string password = qr.substr(qr.find(";P:") + 3, 12);
    EXPECT_EQ(qr, "WIFI:T:ADB;S:" + p.pairing->serviceName() + ";P:" + password + ";;");
    // The password reaches adb on its standard input, never in the process list.
    EXPECT_EQ(p.rig.adb.calls(),
        (Calls { { "version" }, { "pair", "192.168.1.23:37105" }, { "connect", "192.168.1.23:41234" },
            { "devices", "-l" } }));
    EXPECT_EQ(p.rig.adb.inputs(), std::vector { password + "\n" });
    EXPECT_EQ(p.pairing->status(), "Paired and connected to Pixel 7");
    EXPECT_EQ(p.rig.defaults->readString(AppState::kLastPhoneIP), "192.168.1.23");
    EXPECT_TRUE(p.rig.defaults->object(AppState::kLastWasHotspot).has_value());
    EXPECT_FALSE(p.rig.defaults->readBool(AppState::kLastWasHotspot));
    EXPECT_FALSE(p.network.browsing);
}

TEST(WirelessPairing, IgnoresWhatIsNotItsPhoneAndSaysWhyWhenTheWaitEnds)
{
    const std::pair<std::function<void(Pairing&)>, std::string> cases[] = {
        { [](Pairing& p) { p.network.resolve(kPairType, "studio-Q", "192.168.1.5", 37000); },
            "Your phone didn’t answer within 2 minutes." },
        { [](Pairing& p) { p.phoneScans("192.0.2.7", false); }, "Your phone isn’t on a home network." },
        { [](Pairing& p) { p.network.handlers.unresolved(kPairType, p.pairing->serviceName()); },
            "Your phone scanned the code, but its address couldn’t be found." },
        { [](Pairing& p) { p.network.handlers.failed("the Avahi service isn’t running"); },
            "Tessaly can’t look for your phone." },
    };
    for (const auto& [play, title] : cases) {
        SCOPED_TRACE(title);
        Pairing p;
        play(p);
        ASSERT_TRUE(p.reaches(Stage::failed));
        EXPECT_EQ(p.pairing->status(), title);
        EXPECT_EQ(p.rig.adb.calls(), Calls { { "version" } });
        EXPECT_FALSE(p.network.browsing);
    }
}

TEST(WirelessPairing, FailuresAfterTheScanAreFriendlyErrorsWithTheToolOutput)
{
    const std::string wrongPassword = "Failed: Wrong password or connection was dropped.";
    const std::string refused = "failed to connect to '192.168.1.23:41234': Connection refused";
    const struct {
        StandInTool::Answer pair;
        bool connectAnnounced;
        std::string connectAnswer, title, details;
    } cases[] = {
        { { .err = wrongPassword, .exitCode = 1 }, true, "", "Pairing didn’t work.", wrongPassword },
        { { .out = kPaired }, false, "", "Paired, but the phone didn’t offer a connection.", "" },
        { { .out = kPaired }, true, refused, "Paired, but couldn’t connect.", refused },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        Pairing p;
        p.rig.adb.onPrefix({ "pair" }, c.pair);
        p.rig.adb.on({ "connect", "192.168.1.23:41234" }, { .out = c.connectAnswer });
        p.phoneScans("192.168.1.23", c.connectAnnounced);
        ASSERT_TRUE(p.reaches(Stage::failed));
        EXPECT_EQ(p.pairing->error(), (FriendlyError { c.title, p.pairing->error()->advice, c.details }));
        EXPECT_FALSE(p.rig.defaults->readString(AppState::kLastPhoneIP).has_value());
    }
}

TEST(WirelessPairing, AnOldAdbGetsTheExplanationAtOnceOnceItsVersionIsKnown)
{
    PairingRig p("", 0.3);
    actAsAdb(p.rig.adb, "29.0.6-debian");
    for (int opening = 0; opening < 2; ++opening) {
        p.pairing->start();
        // Asked once: from then on the explanation comes without a look at adb or a code to scan.
        EXPECT_EQ(p.pairing->stage(), opening == 0 ? Stage::checkingAdb : Stage::failed);
        ASSERT_TRUE(p.reaches(Stage::failed));
        EXPECT_EQ(p.pairing->status(), "This needs adb 30 or later. Your adb is 29.0.6-debian.");
        // Nobody is told to remove the system's adb: other packages depend on it.
        EXPECT_EQ(p.pairing->error()->advice.find("remove"), std::string::npos);
    }
    EXPECT_EQ(p.rig.adb.calls(), Calls { { "version" } });
}

TEST(WirelessPairing, AnAdbWithoutPairIsFoundOutOnceEvenWhenItsVersionIsUnreadable)
{
    // adb 29 answers a command it does not know with its help; later ones say so in a line.
    Pairing p("");
    actAsAdb(p.rig.adb, "29.0.6-debian"); // past the version check already
    for (int opening = 0; opening < 2; ++opening) {
        if (opening == 1)
            p.rig.adb.onPrefix({ "pair" }, { .err = "adb: unknown command pair", .exitCode = 1 });
        if (opening > 0)
            p.pairing->start();
        ASSERT_TRUE(p.reaches(Stage::waiting));
        p.phoneScans();
        ASSERT_TRUE(p.reaches(Stage::failed));
        EXPECT_EQ(p.pairing->status(), "This needs adb 30 or later. Your adb is older than 30.");
        EXPECT_TRUE(p.pairing->needsNewerAdb());
    }
    const Calls calls = p.rig.adb.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), std::vector<std::string> { "version" }), 1);
}

TEST(WirelessPairing, CancelStopsBrowsingAndThePairUnderWay)
{
    Pairing p;
    p.rig.adb.onPrefix({ "pair" }, { .out = kPaired, .delay = 0.5 });
    p.phoneScans();
    ASSERT_TRUE(waitFor([&] { return p.rig.adb.calls().size() == 2; })); // version and pair
    p.pairing->cancel();
    EXPECT_FALSE(p.network.browsing);
    waitFor([] { return false; }, 900);
    EXPECT_EQ(p.pairing->stage(), Stage::idle);
    EXPECT_EQ(p.rig.adb.calls().size(), 2U);

    const std::string first = p.pairing->qrText();
    p.pairing->start();
    EXPECT_NE(p.pairing->qrText(), first);
    p.pairing->cancel(); // and the new attempt, waiting for a scan, ends at its next look
    waitFor([] { return false; }, 100);
}

} // namespace
} // namespace tessaly
