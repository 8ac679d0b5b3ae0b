#include <filesystem>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <unistd.h>

#include <QCoroTask>

#include <gtest/gtest.h>

#include "phone/ADB.h"
#include "phone/ADBChoice.h"
#include "support/StandInTool.h"

using namespace tessaly;
using tessaly::test::actAsAdb;
using tessaly::test::StandInTool;
using Arguments = std::vector<std::string>;

namespace {

const Arguments kRouteQuery { "-s", "R58M12ABCDE", "shell", "ip", "route" };
const Arguments kAddressQuery { "-s", "R58M12ABCDE", "shell", "ip", "-f", "inet", "addr", "show", "wlan0" };
const Arguments kStatusQuery { "-s", "R58M12ABCDE", "shell", "cmd", "wifi", "status" };
const std::string kWifiRoute = "192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.23\n";
const std::string kMobileRoute = "10.110.0.0/16 dev rmnet_data1 proto kernel scope link src 10.110.5.9\n";

class ADBTest : public ::testing::Test {
protected:
    StandInTool tool { "adb" };
    ADB adb { tool.path() };
};

// Resolves to the task's value and the seconds it took from `clock`'s start.
template <typename T> QCoro::Task<std::pair<T, double>> timed(QCoro::Task<T> task, QElapsedTimer clock)
{
    T value = co_await std::move(task);
    co_return std::pair<T, double> { std::move(value), clock.elapsed() / 1000.0 };
}

} // namespace

TEST_F(ADBTest, RunPassesArgumentsAndReducedEnvironment)
{
    tool.on({ "devices", "-l" }, { .printEnvironment = true });
    const ProcessResult result = QCoro::waitFor(adb.run({ "devices", "-l" }, 5));
    EXPECT_EQ(tool.calls(), (std::vector<Arguments> { { "devices", "-l" } }));
    std::string expected;
    for (const auto& [name, value] : ProcessRunner::safeEnvironment(tool.path()))
        expected += name + "=" + value + "\n";
    EXPECT_EQ(result.stdOut + "\n", expected);
}

TEST_F(ADBTest, RefusesForeignAddressesAndUnsafeSerialsWithoutRunningAdb)
{
    const std::vector<std::pair<std::string, int>> refused { { "8.8.8.8", 5555 }, { "127.0.0.1", 5555 },
        { "192.168.1.255", 5555 }, { "192.168.1.5", 80 }, { "192.168.1.5", 1023 }, { "192.168.1.5", 65536 },
        { "192.168.1.5", -5555 }, { "192.168.1.5:5555", 5555 }, { "-192.168.1.5", 5555 }, { "", 5555 } };
    for (const auto& [ip, port] : refused) {
        const auto result = QCoro::waitFor(adb.connect(ip, port));
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.output,
            "Refused: " + ip + ":" + std::to_string(port) + " is not a private home-network address.");
    }
    for (const std::string serial : { "-d", "", "a b", "a/b" }) {
        EXPECT_EQ(QCoro::waitFor(adb.wifiIP(serial)), std::nullopt);
        EXPECT_EQ(QCoro::waitFor(adb.wifiBand(serial)), std::nullopt);
    }
    EXPECT_TRUE(tool.calls().empty());
}

TEST_F(ADBTest, ConnectReadsTheAnswerNotTheExitStatus)
{
    const std::vector<std::pair<StandInTool::Answer, bool>> cases {
        { { .out = "connected to 192.168.1.5:5555" }, true },
        { { .out = "already connected to 192.168.1.5:5555" }, true },
        { { .out = "Connected to 192.168.1.5:5555", .exitCode = 1 }, true },
        { { .out = "failed to connect to '192.168.1.5:5555': Connection refused" }, false },
        { { .out = "cannot connect to 192.168.1.5:5555: No route to host (113)", .exitCode = 1 }, false },
        { { .out = "connected to 192.168.1.5:5555", .err = "Unable to authenticate" }, false }, { {}, false }
    };
    for (const auto& [reply, ok] : cases) {
        tool.on({ "connect", "192.168.1.5:5555" }, reply);
        const auto result = QCoro::waitFor(adb.connect("192.168.1.5", 5555));
        EXPECT_EQ(result.ok, ok) << reply.out << reply.err;
        EXPECT_EQ(result.output, reply.out + (reply.err.empty() ? "" : "\n" + reply.err));
    }
    EXPECT_EQ(
        tool.calls(), std::vector<Arguments>(cases.size(), Arguments { "connect", "192.168.1.5:5555" }));
}

TEST_F(ADBTest, WifiIPFromTheRouteTableElseTheInterfaceAddress)
{
    tool.on(kRouteQuery, { .out = kMobileRoute + kWifiRoute });
    EXPECT_EQ(QCoro::waitFor(adb.wifiIP("R58M12ABCDE")), "192.168.1.23");
    EXPECT_EQ(tool.calls(), std::vector<Arguments> { kRouteQuery });
    tool.clearCalls();
    tool.on(kRouteQuery, { .out = kMobileRoute });
    tool.on(
        kAddressQuery, { .out = "30: wlan0: <UP> mtu 1500\n    inet 192.168.1.24/24 scope global wlan0\n" });
    EXPECT_EQ(QCoro::waitFor(adb.wifiIP("R58M12ABCDE")), "192.168.1.24");
    EXPECT_EQ(tool.calls(), (std::vector<Arguments> { kRouteQuery, kAddressQuery }));
}

// Each command has its own time limit (5 s for shell queries, 8 s for connect, here a tenth of
// that); what a stopped command printed is still read. The answers are scripted for the exact
// argument lists only.
TEST_F(ADBTest, TimeLimits)
{
    adb.timeScale = 0.1;
    tool.on(kRouteQuery, { .out = kWifiRoute, .delay = 30 });
    tool.on(kStatusQuery,
        { .out = "Wifi is connected to \"Home\"\nWifiInfo: SSID: \"Home\", Frequency: 5180MHz\n",
            .delay = 30 });
    tool.on({ "connect", "192.168.1.5:5555" }, { .out = "connected to 192.168.1.5:5555", .delay = 30 });
    // The three run side by side.
    QElapsedTimer clock;
    clock.start();
    auto ip = timed(adb.wifiIP("R58M12ABCDE"), clock);
    auto band = timed(adb.wifiBand("R58M12ABCDE"), clock);
    auto connected = timed(adb.connect("192.168.1.5", 5555), clock);
    const auto [address, ipSeconds] = QCoro::waitFor(std::move(ip));
    const auto [wifiBand, bandSeconds] = QCoro::waitFor(std::move(band));
    const auto [connection, connectSeconds] = QCoro::waitFor(std::move(connected));
    EXPECT_EQ(address, "192.168.1.23");
    EXPECT_EQ(wifiBand, WiFiBand::ghz5);
    EXPECT_TRUE(connection.ok);
    for (const double seconds : { ipSeconds, bandSeconds })
        EXPECT_TRUE(seconds >= 0.49 && seconds < 0.75) << seconds;
    EXPECT_TRUE(connectSeconds >= 0.79 && connectSeconds < 1.2) << connectSeconds;
}

// Stand-ins of different releases in a throw-away system tree: the newest runs, each asked once.
TEST(ADBChoiceTest, TheNewestTrustedAdbIsChosen)
{
    const std::string sdk = "/home/ana/Android/Sdk/platform-tools", local = "/usr/local/bin";
    const std::pair<std::vector<std::pair<std::string, std::string>>, std::size_t> cases[] = {
        { { { "/usr/bin", "29.0.6-debian" }, { sdk, "35.0.2-12147458" } }, 1 },
        { { { "/usr/bin", "35.0.10" }, { local, "35.0.9" } }, 0 },
        { { { "/usr/bin", "29.0.6" }, { local, "" }, { "/opt/android-sdk/platform-tools", "34.0.5" } }, 2 },
        { { { "/usr/bin", "34.0.5" }, { sdk, "34.0.5" } }, 0 },
        { { { "/usr/bin", "" }, { local, "" } }, 0 },
        { { { sdk, "35.0.2" } }, 0 },
    };
    for (const auto& [installed, chosen] : cases) {
        QTemporaryDir top;
        const std::string root = std::filesystem::canonical(top.path().toStdString()).string();
        std::vector<std::unique_ptr<StandInTool>> tools;
        for (const auto& [folder, release] : installed) {
            tools.push_back(std::make_unique<StandInTool>("adb", root + folder));
            actAsAdb(*tools.back(), release.empty() ? "unreadable" : release);
        }
        for (int round = 0; round < 2; ++round)
            EXPECT_EQ(ADBChoice::choose({ root, root + "/home/ana", "", ::getuid() }), tools[chosen]->path())
                << installed[chosen].first;
        for (const auto& tool : tools)
            EXPECT_EQ(tool->calls().size(), tools.size() > 1 ? 1U : 0U);
    }
}
