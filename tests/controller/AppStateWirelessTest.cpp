#include <algorithm>
#include <chrono>

#include <gtest/gtest.h>

#include "support/ControllerFakes.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::deviceList;
using Args = std::vector<std::string>;
using Answer = test::StandInTool::Answer;
using Texts = std::vector<std::string>;

const Args kList { "devices", "-l" };
const Args kRoute { "-s", "U1", "shell", "ip", "route" };
const Args kTcpip { "-s", "U1", "tcpip", "5555" };
const Args kBackToUSB { "-s", "U1", "usb" };
const Args kConnectHome { "connect", "192.168.1.40:5555" };
const Args kConnectHotspot { "connect", "192.168.43.1:5555" };
const std::string kRefused = "cannot connect to 192.168.1.40:5555: Connection refused (111)";

Answer out(std::string text, int exitCode = 0)
{
    return Answer { .out = std::move(text), .exitCode = exitCode };
}

// A cable phone "U1" on the Wi-Fi at `ip` whose every step succeeds.
void scriptPhone(ControllerRig& rig, const std::string& ip = "192.168.1.40")
{
    rig.adb.on(kList, deviceList({ "U1 device usb:1-1 product:p model:Pixel_7 device:d transport_id:1" }));
    rig.adb.on(kRoute, out("192.168.1.0/24 dev wlan0 proto kernel scope link src " + ip + "\n"));
    rig.adb.on(kTcpip, out("restarting in TCP mode port: 5555"));
    rig.adb.otherwise(out("connected to " + ip + ":5555"));
}

// Runs one operation to its end and returns the busy texts it showed, in order.
Texts runToEnd(AppState& state, void (AppState::*operation)())
{
    Texts shown;
    const auto connection = QObject::connect(&state, &AppState::busyMessageChanged, [&] {
        if (state.busyMessage())
            shown.push_back(*state.busyMessage());
    });
    (state.*operation)();
    EXPECT_TRUE(test::waitUntilIdle(state, 20000));
    EXPECT_EQ(state.busyMessage(), std::nullopt);
    QObject::disconnect(connection);
    return shown;
}

// An error as the tests tell them apart: its title and the tool output it carries (each title
// has one advice text).
using Error = std::pair<std::string, std::string>;

std::vector<Error> titlesAndDetails(const std::vector<FriendlyError>& errors)
{
    std::vector<Error> all;
    for (const FriendlyError& error : errors)
        all.emplace_back(error.title, error.details);
    return all;
}

std::vector<Args> concat(std::initializer_list<std::vector<Args>> parts)
{
    std::vector<Args> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(AppStateWirelessTest, GoWirelessRetriesRestartsTheServerOnNoRouteAndSendsAFailedPhoneBackToUSB)
{
    struct Case {
        const char* name;
        std::vector<std::pair<Args, std::vector<Answer>>> answers; // over the happy phone's; the last repeats
        std::vector<Args> calls;
        std::vector<double> sleeps;
        std::optional<Error> error;
        double minSeconds = 0, maxSeconds = 4; // with the time limits at a tenth
    };
    const Error plugIn { "Plug in your phone first.", "" };
    const std::string tcpipFailed = "The phone didn’t switch to wireless mode.";
    const Error wifiAdvice { "Couldn’t connect over Wi-Fi.", kRefused };
    const std::string noRoute = "FAILED TO CONNECT TO '192.168.1.40:5555': NO ROUTE TO HOST";
    std::vector<Answer> noRouteThenRefused(
        5, out("failed to connect to '192.168.1.40:5555': No route to host", 1));
    noRouteThenRefused.push_back(out(kRefused, 1));
    auto noRouteThenThrough = noRouteThenRefused;
    noRouteThenThrough.push_back(out("connected to 192.168.1.40:5555"));
    const Args addressQuery { "-s", "U1", "shell", "ip", "-f", "inet", "addr", "show", "wlan0" };
    const std::vector<Args> opened { kList, kRoute, kTcpip };
    const std::vector<Args> five(5, kConnectHome), three(3, kConnectHome), two(2, kConnectHome);
    const std::vector<Args> restart { { "kill-server" }, { "start-server" } };
    const std::vector<double> waits { 2, 1, 1, 1, 1 };
    const std::vector<Case> cases {
        { "first try", {}, concat({ opened, { kConnectHome, kList } }), { 2 }, std::nullopt },
        { "only a Wi-Fi phone", { { kList, { deviceList({ "192.168.1.40:5555 device" }) } } }, { kList }, {},
            plugIn },
        { "cable phone not allowed yet", { { kList, { deviceList({ "U1 unauthorized usb:1-1" }) } } },
            { kList }, {}, plugIn },
        { "list hangs",
            { { kList, { { .chunks = { { .text = "List of devices attached\n", .delayBefore = 30 } } } } } },
            { kList }, {}, plugIn, 0.49, 0.75 },
        { "no Wi-Fi address", { { kRoute, { out("") } } }, { kList, kRoute, addressQuery }, {},
            Error { "Couldn’t find your phone’s Wi-Fi address.", "" } },
        { "tcpip fails", { { kTcpip, { { .err = "error: closed", .exitCode = 1 } } } },
            { kList, kRoute, kTcpip, kBackToUSB }, {}, Error { tcpipFailed, "error: closed" } },
        { "tcpip hangs", { { kTcpip, { { .out = "restarting in TCP mode port: 5555", .delay = 30 } } } },
            { kList, kRoute, kTcpip, kBackToUSB }, {},
            Error { tcpipFailed, "restarting in TCP mode port: 5555" }, 0.99, 1.4 },
        { "refused five times", { { kConnectHome, { out(kRefused, 1) } } },
            concat({ opened, five, { kBackToUSB } }), waits, wifiAdvice },
        { "no route throughout", { { kConnectHome, { out(noRoute, 1) } } },
            concat({ opened, five, restart, three, { kBackToUSB } }), { 2, 1, 1, 1, 1, 2, 1, 1 },
            Error { "Something on this computer is blocking the connection to your phone.", noRoute } },
        { "refused after the restart", { { kConnectHome, noRouteThenRefused } },
            concat({ opened, five, restart, three, { kBackToUSB } }), { 2, 1, 1, 1, 1, 2, 1, 1 },
            wifiAdvice },
        { "through after the restart", { { kConnectHome, noRouteThenThrough } },
            concat({ opened, five, restart, two, { kList } }), { 2, 1, 1, 1, 1, 2, 1 }, std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ControllerRig rig;
        rig.timeScale = 0.1;
        scriptPhone(rig);
        for (const auto& [arguments, answers] : c.answers)
            rig.adb.onSequence(arguments, answers);
        rig.defaults->writeBool(AppState::kLastWasHotspot, true);
        auto state = rig.make();
        const auto has
            = [&](const Args& call) { return std::count(c.calls.begin(), c.calls.end(), call) > 0; };
        Texts shown { "Checking the USB connection…" };
        if (has(kRoute))
            shown.push_back("Finding your phone’s Wi-Fi address…");
        if (has(kTcpip))
            shown.push_back("Turning on wireless debugging…");
        if (has(kConnectHome))
            shown.push_back("Connecting to 192.168.1.40…");
        if (has(restart[0]))
            shown.insert(shown.end(), { "Restarting the connection…", "Connecting to 192.168.1.40…" });
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(runToEnd(*state, &AppState::goWireless), shown);
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        EXPECT_GE(seconds, c.minSeconds);
        EXPECT_LT(seconds, c.maxSeconds);
        EXPECT_EQ(rig.adb.calls(), c.calls);
        EXPECT_EQ(rig.clock->sleeps, c.sleeps);
        EXPECT_EQ(titlesAndDetails(rig.presenter->errors),
            c.error ? std::vector { *c.error } : std::vector<Error> {});
        EXPECT_EQ(state->lastError(),
            rig.presenter->errors.empty() ? std::nullopt : std::optional(rig.presenter->errors.back()));
        EXPECT_EQ(rig.defaults->readBool("lastWasHotspot"), c.error.has_value());
        if (c.error) {
            EXPECT_TRUE(rig.presenter->infos.empty());
            EXPECT_FALSE(rig.defaults->contains("lastPhoneIP"));
            continue;
        }
        EXPECT_EQ(rig.defaults->readString("lastPhoneIP"), "192.168.1.40");
        ASSERT_EQ(rig.presenter->infos.size(), 1u);
        EXPECT_EQ(rig.presenter->infos[0].title, "Wireless is ready! 🎉");
        EXPECT_TRUE(rig.presenter->infos[0].text.starts_with("Connected to your phone at 192.168.1.40.\n"));
    }
}

TEST(AppStateWirelessTest, HotspotConnectsDirectlyOrThroughTheCableAndNamesTheHomeWiFi)
{
    struct Case {
        const char* name;
        std::optional<std::string> router;
        std::string listed;
        std::vector<Answer> connectAnswers;
        std::vector<Args> calls;
        std::vector<double> sleeps;
        std::optional<Error> error;
        std::string lastPhoneIP = "192.168.1.40";
    };
    const char* plain = "Couldn’t connect through the hotspot.";
    const std::string timedOut = "cannot connect to 192.168.43.1:5555: Connection timed out";
    const std::string refused = "cannot connect to 192.168.1.1:5555";
    const Args connectRouter { "connect", "192.168.1.1:5555" };
    const std::vector<Case> cases {
        { "no hotspot", std::nullopt, "", {}, {}, {},
            Error { "This computer isn’t connected to a Wi-Fi hotspot.", "" } },
        { "direct", "192.168.43.1", "192.168.43.1:5555 device model:Pixel_7",
            { out("connected to 192.168.43.1:5555") }, { kConnectHotspot, kList, kList }, {}, std::nullopt },
        { "through the cable", "192.168.43.1", "U1 device usb:1-1",
            { out("failed to connect", 1), out("failed to connect", 1),
                out("connected to 192.168.43.1:5555") },
            { kConnectHotspot, kList, kTcpip, kConnectHotspot, kConnectHotspot, kList }, { 2, 1 },
            std::nullopt },
        { "cable retries fail", "192.168.43.1", "U1 device usb:1-1",
            { out("failed to connect to '192.168.43.1:5555': Connection refused", 1), out("first retry", 1),
                out(timedOut, 1) },
            { kConnectHotspot, kList, kTcpip, kConnectHotspot, kConnectHotspot, kBackToUSB }, { 2, 1, 1 },
            Error { plain, timedOut } },
        // The router's subnet holds the last phone address and no cable phone is there: no tcpip.
        { "home Wi-Fi", "192.168.1.1", "192.168.1.40:5555 offline", { out(refused, 1) },
            { connectRouter, kList }, {},
            Error { "This computer seems to be on your home Wi-Fi, not the phone’s hotspot.", refused } },
        { "other subnet", "192.168.1.1", "192.168.1.40:5555 offline", { out(refused, 1) },
            { connectRouter, kList }, {}, Error { plain, refused }, "192.168.2.40" },
        { "stored address no phone's", "192.168.1.1", "192.168.1.40:5555 offline", { out(refused, 1) },
            { connectRouter, kList }, {}, Error { plain, refused }, "192.168.1.255" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ControllerRig rig;
        rig.network->routerIP = c.router;
        rig.defaults->writeString(AppState::kLastPhoneIP, c.lastPhoneIP);
        rig.adb.on(kList, deviceList({ c.listed }));
        if (c.router)
            rig.adb.onSequence({ "connect", *c.router + ":5555" }, c.connectAnswers);
        auto state = rig.make();
        Texts shown { "Looking for your phone’s hotspot…" };
        const std::string connecting = "Connecting to your phone at " + c.router.value_or("") + "…";
        if (c.router)
            shown.push_back(connecting);
        if (std::count(c.calls.begin(), c.calls.end(), kTcpip))
            shown.insert(shown.end(), { "Turning on wireless debugging…", connecting });
        EXPECT_EQ(runToEnd(*state, &AppState::connectHotspot), shown);
        EXPECT_EQ(rig.adb.calls(), c.calls);
        EXPECT_EQ(rig.clock->sleeps, c.sleeps);
        EXPECT_EQ(rig.defaults->readString("lastPhoneIP"), c.lastPhoneIP);
        if (c.error) {
            EXPECT_EQ(titlesAndDetails(rig.presenter->errors), std::vector<Error> { *c.error });
            EXPECT_FALSE(rig.defaults->contains("lastWasHotspot"));
            continue;
        }
        EXPECT_TRUE(rig.presenter->errors.empty());
        EXPECT_TRUE(rig.defaults->readBool("lastWasHotspot"));
        EXPECT_EQ(state->macRouterIP(), "192.168.43.1");
        ASSERT_EQ(rig.presenter->infos.size(), 1u);
        EXPECT_EQ(rig.presenter->infos[0].title, "Connected directly to your phone 🎉");
    }
}

TEST(AppStateWirelessTest, DisconnectDropsEachAddressOnceAndCountsOnlyAClearAnswer)
{
    const Error notReached { "Disconnected, but the phone couldn’t be reached.", "" };
    const Args toUSB { "-s", "192.168.1.40:5555", "usb" }, drop { "disconnect", "192.168.1.40:5555" };
    const std::tuple<bool, int, std::vector<Args>, bool> cases[] {
        { true, 0, { kList, toUSB, drop, kList }, true },
        { true, 1, { kList, toUSB, drop, kList }, false },
        { false, 0, { kList, drop, kList }, false },
    };
    for (const auto& [listed, usbExit, calls, reached] : cases) {
        ControllerRig rig;
        rig.defaults->writeString(AppState::kLastPhoneIP, "192.168.1.40");
        rig.defaults->writeBool(AppState::kLastWasHotspot, true);
        rig.adb.onSequence(kList,
            { deviceList(listed ? Texts { "192.168.1.40:5555 device model:Pixel_7" } : Texts {}),
                deviceList({}) });
        rig.adb.on(toUSB, out("", usbExit));
        auto state = rig.make();
        EXPECT_EQ(
            runToEnd(*state, &AppState::disconnectWireless), Texts { "Turning off wireless debugging…" });
        EXPECT_EQ(rig.adb.calls(), calls);
        EXPECT_EQ(titlesAndDetails(rig.presenter->errors),
            reached ? std::vector<Error> {} : std::vector { notReached });
        EXPECT_TRUE(state->devices().empty());
        // The remembered addresses stay for the next reconnect.
        EXPECT_EQ(rig.defaults->readString("lastPhoneIP"), "192.168.1.40");
        EXPECT_TRUE(rig.defaults->readBool("lastWasHotspot"));
    }
}

TEST(AppStateWirelessTest, EntriesRefuseWhileBusyAndNeedAdb)
{
    const auto operations
        = { &AppState::goWireless, &AppState::connectHotspot, &AppState::disconnectWireless };
    ControllerRig rig;
    test::PlacedAppState state(rig.services());
    state.placeBusy("Looking for your phone…");
    for (const auto operation : operations)
        (state.*operation)();
    EXPECT_FALSE(state.hasRunningTasks());
    EXPECT_TRUE(rig.adb.calls().empty());
    EXPECT_EQ(state.busyMessage(), "Looking for your phone…");

    ControllerRig missing;
    missing.withAdb = false;
    missing.network->routerIP = "192.168.43.1";
    auto noAdb = missing.make();
    for (const auto operation : operations)
        runToEnd(*noAdb, operation);
    EXPECT_EQ(missing.presenter->errors, std::vector<FriendlyError>(3, AppState::missingToolsError()));
}

// With the phone's address, the router and the remembered address all in one refused range, adb never
// sees a wireless command nor any argument naming that address.
TEST(AppStateWirelessTest, NoOperationOpensOrDialsARefusedAddress)
{
    const std::pair<const char*, std::string> refused[] { { "public", "8.8.8.8" },
        { "public, next to 10/8", "11.0.0.5" }, { "public, next to 172.16/12", "172.32.0.5" },
        { "public, next to 192.168/16", "192.169.0.5" }, { "loopback", "127.0.0.1" },
        { "link-local", "169.254.10.20" }, { "carrier-grade NAT", "100.64.1.2" },
        { "carrier-grade NAT, top", "100.127.255.254" }, { "network host part", "192.168.1.0" },
        { "network host part, 10/8", "10.0.0.0" }, { "broadcast host part", "192.168.1.255" },
        { "broadcast host part, 172.16/12", "172.16.5.255" }, { "unspecified", "0.0.0.0" },
        { "multicast", "224.0.0.251" } };
    for (const auto& [range, ip] : refused) {
        SCOPED_TRACE(std::string(range) + " " + ip);
        std::vector<Args> calls;
        std::vector<FriendlyError> errors;
        for (const auto operation :
            { &AppState::goWireless, &AppState::connectHotspot, &AppState::disconnectWireless }) {
            ControllerRig rig;
            scriptPhone(rig, ip);
            rig.network->routerIP = ip;
            rig.defaults->writeString(AppState::kLastPhoneIP, ip);
            auto state = rig.make();
            runToEnd(*state, operation);
            EXPECT_TRUE(QCoro::waitFor(state->connectOverWiFi(ip, 2)).has_value());
            const auto run = rig.adb.calls();
            calls.insert(calls.end(), run.begin(), run.end());
            errors.insert(errors.end(), rig.presenter->errors.begin(), rig.presenter->errors.end());
        }
        ASSERT_EQ(errors.size(), 2u);
        EXPECT_EQ(errors[0].title, "That network doesn’t look like a home network.");
        EXPECT_NE(errors[0].advice.find("(" + ip + ")"), std::string::npos);
        EXPECT_EQ(errors[1].title, "This computer isn’t connected to a Wi-Fi hotspot.");
        for (const Args& call : calls) {
            for (const std::string& argument : call)
                EXPECT_TRUE(argument != ip && argument.rfind(ip + ":", 0) != 0) << call[0];
            EXPECT_TRUE(call[0] != "connect" && call[0] != "disconnect"
                && std::find(call.begin(), call.end(), "tcpip") == call.end())
                << call[0];
        }
    }
}

} // namespace
} // namespace tessaly
