#include <algorithm>
#include <chrono>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include "support/ControllerFakes.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::deviceList;
using Args = std::vector<std::string>;
using Answer = test::StandInTool::Answer;

const Args kList { "devices", "-l" };
const Args kRoute { "-s", "U1", "shell", "ip", "route" };
const Args kTcpip { "-s", "U1", "tcpip", "5555" };
const Args kBackToUSB { "-s", "U1", "usb" };
const Args kConnectHome { "connect", "192.168.1.40:5555" };
const Args kConnectHotspot { "connect", "192.168.43.1:5555" };

const std::string kNoRoute = "failed to connect to '192.168.1.40:5555': No route to host";
const std::string kRefused = "cannot connect to 192.168.1.40:5555: Connection refused (111)";

Answer out(std::string text, int exitCode = 0)
{
    return Answer { .out = std::move(text), .exitCode = exitCode };
}

Answer routeWithSource(const std::string& ip)
{
    return out("192.168.1.0/24 dev wlan0 proto kernel scope link src " + ip + "\n");
}

// A cable phone "U1" on the home Wi-Fi at 192.168.1.40 whose every step succeeds.
void scriptHappyPhone(ControllerRig& rig)
{
    rig.adb.on(kList, deviceList({ "U1 device usb:1-1 product:p model:Pixel_7 device:d transport_id:1" }));
    rig.adb.on(kRoute, routeWithSource("192.168.1.40"));
    rig.adb.on(kTcpip, out("restarting in TCP mode port: 5555"));
    rig.adb.on(kConnectHome, out("connected to 192.168.1.40:5555"));
}

// Runs one operation to its end and returns the busy texts it showed, in order.
std::vector<std::string> runToEnd(AppState& state, void (AppState::*operation)())
{
    std::vector<std::string> shown;
    QObject::connect(&state, &AppState::busyMessageChanged, [&] {
        if (state.busyMessage())
            shown.push_back(*state.busyMessage());
    });
    (state.*operation)();
    EXPECT_TRUE(test::waitUntilIdle(state, 20000));
    EXPECT_EQ(state.busyMessage(), std::nullopt);
    QObject::disconnect(&state, &AppState::busyMessageChanged, nullptr, nullptr);
    return shown;
}

// Go Wireless --------------------------------------------------------------------------

TEST(AppStateWirelessTest, GoWirelessSwitchesTheCablePhoneAndRemembersItsAddress)
{
    ControllerRig rig;
    scriptHappyPhone(rig);
    rig.defaults->writeBool(AppState::kLastWasHotspot, true);
    auto state = rig.make();
    const auto shown = runToEnd(*state, &AppState::goWireless);

    EXPECT_EQ(rig.adb.calls(), (std::vector<Args> { kList, kRoute, kTcpip, kConnectHome, kList }));
    EXPECT_EQ(rig.clock->sleeps, (std::vector<double> { 2.0 }));
    EXPECT_EQ(shown,
        (std::vector<std::string> { "Checking the USB connection…", "Finding your phone’s Wi-Fi address…",
            "Turning on wireless debugging…", "Connecting to 192.168.1.40…" }));
    EXPECT_EQ(rig.defaults->readString("lastPhoneIP"), "192.168.1.40");
    EXPECT_TRUE(rig.defaults->isBool("lastWasHotspot"));
    EXPECT_FALSE(rig.defaults->readBool("lastWasHotspot"));
    EXPECT_TRUE(rig.presenter->errors.empty());
    ASSERT_EQ(rig.presenter->infos.size(), 1u);
    EXPECT_EQ(rig.presenter->infos[0].title, "Wireless is ready! 🎉");
    EXPECT_EQ(rig.presenter->infos[0].text,
        "Connected to your phone at 192.168.1.40.\nYou can unplug the USB cable now, then click “Mirror "
        "Phone”.\n\nWhen you're done, use “Disconnect Wireless” to switch it off.");
    EXPECT_EQ(state->quality(), std::nullopt);
}

TEST(AppStateWirelessTest, GoWirelessStopsBeforeTouchingThePhoneWhenItCannotGoOn)
{
    struct Case {
        const char* name;
        std::vector<std::string> listed;
        std::optional<Answer> route; // none: no Wi-Fi route, no wlan0 address either
        std::vector<Args> calls;
        FriendlyError error;
    };
    const auto refusal = [](const std::string& ip) {
        return FriendlyError { "That network doesn’t look like a home network.",
            "Your phone’s address (" + ip
                + ") isn’t a private home-network address, so Tessaly refused to turn on wireless debugging "
                  "for safety.",
            "" };
    };
    const FriendlyError plugIn { "Plug in your phone first.",
        "“Go Wireless” needs the USB cable connected once. Plug it in, unlock the phone, then try again.",
        "" };
    const Args addressQuery { "-s", "U1", "shell", "ip", "-f", "inet", "addr", "show", "wlan0" };
    const std::vector<Case> cases {
        { "only a Wi-Fi phone", { "192.168.1.40:5555 device" }, {}, { kList }, plugIn },
        { "cable phone not allowed yet", { "U1 unauthorized usb:1-1" }, {}, { kList }, plugIn },
        { "no Wi-Fi address", { "U1 device usb:1-1" }, std::nullopt, { kList, kRoute, addressQuery },
            { "Couldn’t find your phone’s Wi-Fi address.",
                "Make sure Wi-Fi is turned ON on the phone and it’s connected to your home network. (Using "
                "the "
                "phone’s hotspot instead? Use “Hotspot Mode” in the menu.)",
                "" } },
        { "carrier-grade NAT", { "U1 device usb:1-1" }, routeWithSource("100.64.1.2"), { kList, kRoute },
            refusal("100.64.1.2") },
        { "public address", { "U1 device usb:1-1" }, routeWithSource("8.8.8.8"), { kList, kRoute },
            refusal("8.8.8.8") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ControllerRig rig;
        rig.adb.on(kList, deviceList(c.listed));
        if (c.route)
            rig.adb.on(kRoute, *c.route);
        auto state = rig.make();
        runToEnd(*state, &AppState::goWireless);
        EXPECT_EQ(rig.adb.calls(), c.calls);
        EXPECT_EQ(rig.presenter->errors, (std::vector<FriendlyError> { c.error }));
        EXPECT_EQ(state->lastError(), c.error);
        EXPECT_EQ(state->devices().size(), c.listed.size()); // the list read is published
        EXPECT_TRUE(rig.clock->sleeps.empty());
        EXPECT_FALSE(rig.defaults->contains("lastPhoneIP"));
    }
}

TEST(AppStateWirelessTest, AFailedTcpipShowsItsOutputAndSendsThePhoneBackToUSB)
{
    ControllerRig rig;
    scriptHappyPhone(rig);
    rig.adb.on(kTcpip, { .out = "", .err = "error: closed", .exitCode = 1 });
    auto state = rig.make();
    runToEnd(*state, &AppState::goWireless);
    EXPECT_EQ(rig.adb.calls(), (std::vector<Args> { kList, kRoute, kTcpip, kBackToUSB }));
    EXPECT_EQ(rig.presenter->errors,
        (std::vector<FriendlyError> { { "The phone didn’t switch to wireless mode.",
            "Unplug and replug the cable, tap Allow if asked, and try again.", "error: closed" } }));
    EXPECT_TRUE(rig.clock->sleeps.empty());
}

TEST(AppStateWirelessTest, ATcpipThatHangsTimesOutAfterTenSecondsAndIsUndone)
{
    using clock = std::chrono::steady_clock;
    ControllerRig rig;
    scriptHappyPhone(rig);
    rig.adb.on(kTcpip, { .out = "restarting in TCP mode port: 5555", .delay = 30 });
    auto state = rig.make();
    const auto begin = clock::now();
    runToEnd(*state, &AppState::goWireless);
    const double seconds = std::chrono::duration<double>(clock::now() - begin).count();
    EXPECT_GT(seconds, 9.5);
    EXPECT_LT(seconds, 13.0);
    // It may have switched before hanging: the phone is told to stop listening all the same.
    EXPECT_EQ(rig.adb.calls(), (std::vector<Args> { kList, kRoute, kTcpip, kBackToUSB }));
    ASSERT_EQ(rig.presenter->errors.size(), 1u);
    EXPECT_EQ(rig.presenter->errors[0].title, "The phone didn’t switch to wireless mode.");
}

TEST(AppStateWirelessTest, FiveFailedAttemptsWaitOneSecondBetweenThemAndEndOnUSB)
{
    ControllerRig rig;
    scriptHappyPhone(rig);
    rig.adb.on(kConnectHome, out(kRefused, 1));
    auto state = rig.make();
    runToEnd(*state, &AppState::goWireless);

    std::vector<Args> expected { kList, kRoute, kTcpip };
    expected.insert(expected.end(), 5, kConnectHome);
    expected.push_back(kBackToUSB);
    EXPECT_EQ(rig.adb.calls(), expected);
    EXPECT_EQ(rig.clock->sleeps, (std::vector<double> { 2.0, 1.0, 1.0, 1.0, 1.0 }));
    EXPECT_EQ(rig.presenter->errors,
        (std::vector<FriendlyError> { { "Couldn’t connect over Wi-Fi.",
            "Make sure the computer and phone are on the same Wi-Fi network (not a guest network), then try "
            "again.",
            kRefused } }));
    EXPECT_TRUE(rig.presenter->infos.empty());
    EXPECT_FALSE(rig.defaults->contains("lastPhoneIP"));
}

TEST(AppStateWirelessTest, NoRouteToHostRestartsTheServerThenGivesTheFirewallAdvice)
{
    ControllerRig rig;
    scriptHappyPhone(rig);
    rig.adb.on(kConnectHome, out("FAILED TO CONNECT TO '192.168.1.40:5555': NO ROUTE TO HOST", 1));
    auto state = rig.make();
    const auto shown = runToEnd(*state, &AppState::goWireless);

    std::vector<Args> expected { kList, kRoute, kTcpip };
    expected.insert(expected.end(), 5, kConnectHome);
    expected.push_back({ "kill-server" });
    expected.push_back({ "start-server" });
    expected.insert(expected.end(), 3, kConnectHome);
    expected.push_back(kBackToUSB);
    EXPECT_EQ(rig.adb.calls(), expected);
    EXPECT_EQ(rig.clock->sleeps, (std::vector<double> { 2.0, 1.0, 1.0, 1.0, 1.0, 2.0, 1.0, 1.0 }));
    EXPECT_EQ(std::vector<std::string>(shown.end() - 3, shown.end()),
        (std::vector<std::string> {
            "Connecting to 192.168.1.40…", "Restarting the connection…", "Connecting to 192.168.1.40…" }));
    EXPECT_EQ(rig.presenter->errors,
        (std::vector<
            FriendlyError> { { "Something on this computer is blocking the connection to your phone.",
            "Check that your firewall lets Tessaly reach your home network (for example `sudo ufw allow out "
            "to 192.168.0.0/16`). Then click “Go Wireless” once more.\nThe cable still works in the "
            "meantime.",
            "FAILED TO CONNECT TO '192.168.1.40:5555': NO ROUTE TO HOST" } }));
}

TEST(AppStateWirelessTest, AfterTheServerRestartTheLastAnswerDecidesTheOutcome)
{
    std::vector<Answer> noRouteFiveTimes(5, out(kNoRoute, 1));

    // Through on the second attempt after the restart: success, nothing undone.
    ControllerRig through;
    scriptHappyPhone(through);
    auto answers = noRouteFiveTimes;
    answers.push_back(out(kRefused, 1));
    answers.push_back(out("connected to 192.168.1.40:5555"));
    through.adb.onSequence(kConnectHome, answers);
    auto state = through.make();
    runToEnd(*state, &AppState::goWireless);
    EXPECT_EQ(through.presenter->infos.size(), 1u);
    EXPECT_TRUE(through.presenter->errors.empty());
    const auto throughCalls = through.adb.calls();
    EXPECT_EQ(std::count(throughCalls.begin(), throughCalls.end(), kBackToUSB), 0);
    EXPECT_EQ(through.defaults->readString("lastPhoneIP"), "192.168.1.40");

    // Refused after the restart: the plain Wi-Fi advice, with that answer as details.
    ControllerRig refused;
    scriptHappyPhone(refused);
    answers = noRouteFiveTimes;
    answers.push_back(out(kRefused, 1));
    refused.adb.onSequence(kConnectHome, answers);
    auto other = refused.make();
    runToEnd(*other, &AppState::goWireless);
    ASSERT_EQ(refused.presenter->errors.size(), 1u);
    EXPECT_EQ(refused.presenter->errors[0].title, "Couldn’t connect over Wi-Fi.");
    EXPECT_EQ(refused.presenter->errors[0].details, kRefused);
    EXPECT_EQ(refused.adb.calls().back(), kBackToUSB);
}

TEST(AppStateWirelessTest, ConnectOverWiFiReturnsTheLastFailureAndTriesAtLeastOnce)
{
    ControllerRig rig;
    rig.adb.onSequence(
        kConnectHome, { out("first", 1), out("second", 1), out("connected to 192.168.1.40:5555") });
    auto state = rig.make();
    EXPECT_EQ(QCoro::waitFor(state->connectOverWiFi("192.168.1.40", 2)), "second");
    EXPECT_EQ(QCoro::waitFor(state->connectOverWiFi("192.168.1.40", 0)), std::nullopt);
    EXPECT_EQ(rig.adb.calls().size(), 3u);
    EXPECT_EQ(rig.clock->sleeps, (std::vector<double> { 1.0 }));
}

// Hotspot ------------------------------------------------------------------------------

TEST(AppStateWirelessTest, HotspotConnectsToTheRouterAndRemembersTheKind)
{
    ControllerRig rig;
    rig.network->routerIP = "192.168.43.1";
    rig.defaults->writeString(AppState::kLastPhoneIP, "192.168.1.40");
    rig.adb.on(kConnectHotspot, out("connected to 192.168.43.1:5555"));
    rig.adb.on(kList, deviceList({ "192.168.43.1:5555 device model:Pixel_7" }));
    auto state = rig.make();
    const auto shown = runToEnd(*state, &AppState::connectHotspot);

    EXPECT_EQ(rig.adb.calls(), (std::vector<Args> { kConnectHotspot, kList, kList }));
    EXPECT_EQ(shown,
        (std::vector<std::string> {
            "Looking for your phone’s hotspot…", "Connecting to your phone at 192.168.43.1…" }));
    EXPECT_TRUE(rig.defaults->readBool("lastWasHotspot"));
    EXPECT_EQ(rig.defaults->readString("lastPhoneIP"), "192.168.1.40");
    EXPECT_EQ(state->macRouterIP(), "192.168.43.1");
    EXPECT_TRUE(state->isOnHotspot());
    EXPECT_TRUE(rig.clock->sleeps.empty());
    EXPECT_EQ(rig.presenter->infos,
        (std::vector<test::RecordingPresenter::Info> { { "Connected directly to your phone 🎉",
            "Tessaly is now talking to your phone through its hotspot, with no router in between.\nYou can "
            "unplug the cable and click “Mirror Phone”.\n\nNote: while your computer is on the phone’s "
            "hotspot, it uses the phone’s mobile data for internet." } }));
}

TEST(AppStateWirelessTest, HotspotWithoutARouterRunsNothing)
{
    ControllerRig rig;
    auto state = rig.make();
    runToEnd(*state, &AppState::connectHotspot);
    EXPECT_TRUE(rig.adb.calls().empty());
    EXPECT_EQ(rig.presenter->errors,
        (std::vector<FriendlyError> { { "This computer isn’t connected to a Wi-Fi hotspot.",
            "1. On your phone, turn on Hotspot (Settings → Connection & sharing → Portable hotspot).\n2. On "
            "your computer, open the Wi-Fi menu and join the phone’s hotspot.\n3. Click “Connect via "
            "Hotspot” again.",
            "" } }));
}

TEST(AppStateWirelessTest, HotspotRetriesThroughTheCableAndUndoesItOnFailure)
{
    ControllerRig rig;
    rig.network->routerIP = "192.168.43.1";
    rig.adb.on(kList, deviceList({ "U1 device usb:1-1" }));
    rig.adb.onSequence(kConnectHotspot,
        { out("failed to connect to '192.168.43.1:5555': Connection refused", 1), out("first retry", 1),
            out("cannot connect to 192.168.43.1:5555: Connection timed out", 1) });
    auto state = rig.make();
    const auto shown = runToEnd(*state, &AppState::connectHotspot);

    EXPECT_EQ(rig.adb.calls(),
        (std::vector<Args> { kConnectHotspot, kList, kTcpip, kConnectHotspot, kConnectHotspot, kBackToUSB }));
    EXPECT_EQ(rig.clock->sleeps, (std::vector<double> { 2.0, 1.0, 1.0 }));
    EXPECT_EQ(shown,
        (std::vector<std::string> { "Looking for your phone’s hotspot…",
            "Connecting to your phone at 192.168.43.1…", "Turning on wireless debugging…",
            "Connecting to your phone at 192.168.43.1…" }));
    EXPECT_EQ(rig.presenter->errors,
        (std::vector<FriendlyError> { { "Couldn’t connect through the hotspot.",
            "Check:\n• This computer is joined to your phone’s hotspot (open the Wi-Fi menu).\n• Wireless "
            "debugging is on: plug in the USB cable, then click “Connect via Hotspot” again.\n  (It turns "
            "off whenever the phone restarts or after “Disconnect Wireless”.)",
            "cannot connect to 192.168.43.1:5555: Connection timed out" } }));
    EXPECT_FALSE(rig.defaults->contains("lastWasHotspot"));
}

TEST(AppStateWirelessTest, HotspotRetryThatGetsThroughKeepsTheLinkOpen)
{
    ControllerRig rig;
    rig.network->routerIP = "192.168.43.1";
    rig.adb.on(kList, deviceList({ "U1 device usb:1-1" }));
    rig.adb.onSequence(kConnectHotspot,
        { out("failed to connect", 1), out("failed to connect", 1), out("connected to 192.168.43.1:5555") });
    auto state = rig.make();
    runToEnd(*state, &AppState::connectHotspot);
    EXPECT_EQ(rig.adb.calls(),
        (std::vector<Args> { kConnectHotspot, kList, kTcpip, kConnectHotspot, kConnectHotspot, kList }));
    EXPECT_EQ(rig.clock->sleeps, (std::vector<double> { 2.0, 1.0 }));
    EXPECT_EQ(rig.presenter->infos.size(), 1u);
    EXPECT_TRUE(rig.defaults->readBool("lastWasHotspot"));
}

TEST(AppStateWirelessTest, HotspotOnTheHomeSubnetWithoutCableFailsAtOnceWithTheHomeWiFiTitle)
{
    struct Case {
        std::optional<std::string> lastPhoneIP;
        std::string title;
    };
    const std::string home = "This computer seems to be on your home Wi-Fi, not the phone’s hotspot.";
    const std::string plain = "Couldn’t connect through the hotspot.";
    const std::vector<Case> cases {
        { "192.168.1.40", home }, { "192.168.2.40", plain }, { std::nullopt, plain },
        { "192.168.1.255", plain }, // not a phone's address
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lastPhoneIP.value_or("none"));
        ControllerRig rig;
        rig.network->routerIP = "192.168.1.1";
        if (c.lastPhoneIP)
            rig.defaults->writeString(AppState::kLastPhoneIP, *c.lastPhoneIP);
        rig.adb.on(kList, deviceList({ "192.168.1.40:5555 offline" }));
        rig.adb.on({ "connect", "192.168.1.1:5555" }, out("cannot connect to 192.168.1.1:5555", 1));
        auto state = rig.make();
        runToEnd(*state, &AppState::connectHotspot);
        EXPECT_EQ(rig.adb.calls(), (std::vector<Args> { { "connect", "192.168.1.1:5555" }, kList }));
        EXPECT_TRUE(rig.clock->sleeps.empty());
        ASSERT_EQ(rig.presenter->errors.size(), 1u);
        EXPECT_EQ(rig.presenter->errors[0].title, c.title);
        EXPECT_EQ(rig.presenter->errors[0].details, "cannot connect to 192.168.1.1:5555");
    }
}

// Disconnect ---------------------------------------------------------------------------

TEST(AppStateWirelessTest, DisconnectSendsThePhoneBackToUSBAndDropsEachAddressOnce)
{
    ControllerRig rig;
    rig.defaults->writeString(AppState::kLastPhoneIP, "192.168.1.40");
    rig.defaults->writeBool(AppState::kLastWasHotspot, true);
    rig.adb.onSequence(kList, { deviceList({ "192.168.1.40:5555 device model:Pixel_7" }), deviceList({}) });
    auto state = rig.make();
    const auto shown = runToEnd(*state, &AppState::disconnectWireless);

    EXPECT_EQ(rig.adb.calls(),
        (std::vector<Args> {
            kList, { "-s", "192.168.1.40:5555", "usb" }, { "disconnect", "192.168.1.40:5555" }, kList }));
    EXPECT_EQ(shown, (std::vector<std::string> { "Turning off wireless debugging…" }));
    EXPECT_TRUE(rig.presenter->errors.empty());
    EXPECT_TRUE(rig.presenter->infos.empty());
    EXPECT_TRUE(state->devices().empty());
    // The remembered addresses stay for the next reconnect.
    EXPECT_EQ(rig.defaults->readString("lastPhoneIP"), "192.168.1.40");
    EXPECT_TRUE(rig.defaults->readBool("lastWasHotspot"));
}

TEST(AppStateWirelessTest, DisconnectWithNothingListedRunsNoCommandAndSaysSo)
{
    ControllerRig rig;
    rig.adb.on(kList, deviceList({}));
    auto state = rig.make();
    runToEnd(*state, &AppState::disconnectWireless);
    EXPECT_EQ(rig.adb.calls(), (std::vector<Args> { kList, kList }));
    EXPECT_EQ(rig.presenter->errors,
        (std::vector<FriendlyError> { { "Disconnected, but the phone couldn’t be reached.",
            "This computer is disconnected. The phone may still be listening for wireless debugging until it "
            "restarts. To be sure: plug in the cable and click “Disconnect Wireless” again, or restart the "
            "phone.",
            "" } }));
}

// A controller in the middle of a mirroring session of `serial`.
class MirroringAppState : public AppState {
public:
    using AppState::AppState;
    void placeMirroredSerial(std::string serial) { m_mirroredSerial = std::move(serial); }
};

TEST(AppStateWirelessTest, DisconnectEndsASessionOverTheNetworkButNotOneOverTheCable)
{
    for (const auto& [serial, stops] :
        { std::pair { "192.168.1.40:5555", true }, std::pair { "U1", false } }) {
        SCOPED_TRACE(serial);
        ControllerRig rig;
        rig.scrcpy.otherwise({ .delay = 30 });
        rig.adb.on(kList, deviceList({ "U1 device usb:1-1", "192.168.1.40:5555 device" }));
        MirroringAppState state(rig.services());
        ASSERT_FALSE(state.scrcpy().start(
            rig.scrcpy.path(), {}, ProcessRunner::safeEnvironment(std::nullopt), [](const std::string&) {},
            [](std::int32_t, const std::string&, bool) {}));
        state.placeMirroredSerial(serial);
        runToEnd(state, &AppState::disconnectWireless);
        QElapsedTimer waited;
        waited.start();
        while (state.scrcpy().isRunning() && waited.elapsed() < (stops ? 3000 : 300))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_EQ(state.scrcpy().isRunning(), !stops);
        state.scrcpy().stopAndWait();
    }
}

TEST(AppStateWirelessTest, SwitchOffPrefersAWirelessPhoneAndCountsOnlyAClearAnswer)
{
    struct Case {
        const char* name;
        std::vector<Device> devices;
        std::optional<std::string> savedIP;
        ProcessResult usbAnswer;
        std::vector<Args> calls;
        bool reached;
    };
    const auto wifi = [](std::string serial, std::string state = "device") {
        return Device { std::move(serial), std::move(state), std::nullopt, Device::Connection::wifi };
    };
    const auto usb = [](std::string serial, std::string state = "device") {
        return Device { std::move(serial), std::move(state), std::nullopt, Device::Connection::usb };
    };
    const ProcessResult ok;
    const ProcessResult failed { .exitCode = 1, .stdOut = "", .stdErr = "error: closed", .timedOut = false };
    const ProcessResult hung { .exitCode = -1, .stdOut = "", .stdErr = "", .timedOut = true };
    const std::vector<Case> cases {
        { "wireless before cable", { usb("U1"), wifi("10.0.0.7:5555") }, std::nullopt, ok,
            { { "-s", "10.0.0.7:5555", "usb" }, { "disconnect", "10.0.0.7:5555" } }, true },
        { "cable when the wireless one is offline", { wifi("10.0.0.7:5555", "offline"), usb("U1") },
            "10.0.0.8", ok,
            { { "-s", "U1", "usb" }, { "disconnect", "10.0.0.7:5555" }, { "disconnect", "10.0.0.8:5555" } },
            true },
        { "refused usb", { usb("U1") }, std::nullopt, failed, { { "-s", "U1", "usb" } }, false },
        { "timed-out usb", { usb("U1") }, std::nullopt, hung, { { "-s", "U1", "usb" } }, false },
        { "nobody ready, saved address only", { usb("U1", "unauthorized") }, "192.168.1.40", ok,
            { { "disconnect", "192.168.1.40:5555" } }, false },
        { "duplicates dropped, service names too",
            { wifi("adb-X._adb-tls-connect._tcp"), wifi("192.168.1.40:5555", "offline"),
                wifi("adb-X._adb-tls-connect._tcp", "offline") },
            "192.168.1.40", ok,
            { { "-s", "adb-X._adb-tls-connect._tcp", "usb" }, { "disconnect", "adb-X._adb-tls-connect._tcp" },
                { "disconnect", "192.168.1.40:5555" } },
            true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Args> calls;
        AppState::AdbRun run
            = [&calls, &c](std::vector<std::string> arguments) -> QCoro::Task<ProcessResult> {
            const bool isUsb = arguments.size() == 3 && arguments[2] == "usb";
            calls.push_back(std::move(arguments));
            co_return isUsb ? c.usbAnswer : ProcessResult {};
        };
        EXPECT_EQ(QCoro::waitFor(AppState::switchOffWireless(c.devices, c.savedIP, 5555, run)), c.reached);
        EXPECT_EQ(calls, c.calls);
    }
}

TEST(AppStateWirelessTest, AHangingDeviceListIsGivenUpAfterFiveSeconds)
{
    using clock = std::chrono::steady_clock;
    ControllerRig rig;
    rig.adb.on(kList,
        { .chunks = { { .text = "List of devices attached\nU1 device usb:1-1\n", .delayBefore = 30 } } });
    auto state = rig.make();
    const auto begin = clock::now();
    runToEnd(*state, &AppState::goWireless);
    const double seconds = std::chrono::duration<double>(clock::now() - begin).count();
    EXPECT_GT(seconds, 4.5);
    EXPECT_LT(seconds, 8.0);
    EXPECT_EQ(rig.adb.calls(), (std::vector<Args> { kList }));
    ASSERT_EQ(rig.presenter->errors.size(), 1u);
    EXPECT_EQ(rig.presenter->errors[0].title, "Plug in your phone first.");
}

// Entries ------------------------------------------------------------------------------

TEST(AppStateWirelessTest, EntriesRefuseWhileBusyAndNeedAdb)
{
    ControllerRig rig;
    rig.network->routerIP = "192.168.43.1";
    scriptHappyPhone(rig);
    test::PlacedAppState state(rig.services());
    state.placeBusy("Looking for your phone…");
    state.goWireless();
    state.connectHotspot();
    state.disconnectWireless();
    EXPECT_FALSE(state.hasRunningTasks());
    EXPECT_TRUE(rig.adb.calls().empty());
    EXPECT_EQ(state.busyMessage(), "Looking for your phone…");

    ControllerRig missing;
    missing.withAdb = false;
    missing.network->routerIP = "192.168.43.1";
    auto noAdb = missing.make();
    for (const auto operation :
        { &AppState::goWireless, &AppState::connectHotspot, &AppState::disconnectWireless })
        runToEnd(*noAdb, operation);
    ASSERT_EQ(missing.presenter->errors.size(), 3u);
    for (const FriendlyError& error : missing.presenter->errors)
        EXPECT_EQ(error, AppState::missingToolsError());
    EXPECT_EQ(missing.presenter->errors[0].title, "scrcpy or adb is missing.");
}

} // namespace
} // namespace tessaly
