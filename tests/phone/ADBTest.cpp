#include <QElapsedTimer>
#include <QThreadPool>

#include <QCoroTask>

#include <gtest/gtest.h>

#include "phone/ADB.h"
#include "support/StandInTool.h"

using namespace tessaly;
using tessaly::test::StandInTool;
using Arguments = std::vector<std::string>;

namespace {

const Arguments kRouteQuery { "-s", "R58M12ABCDE", "shell", "ip", "route" };
const Arguments kAddressQuery { "-s", "R58M12ABCDE", "shell", "ip", "-f", "inet", "addr", "show", "wlan0" };
const Arguments kStatusQuery { "-s", "R58M12ABCDE", "shell", "cmd", "wifi", "status" };

class ADBTest : public ::testing::Test {
protected:
    StandInTool tool { "adb" };
    ADB adb { tool.path() };
};

StandInTool::Answer answer(std::string out, int exitCode = 0, std::string err = {})
{
    StandInTool::Answer a;
    a.out = std::move(out);
    a.err = std::move(err);
    a.exitCode = exitCode;
    return a;
}

// Resolves to the task's value and the seconds it took from `clock`'s start.
template <typename T> QCoro::Task<std::pair<T, double>> timed(QCoro::Task<T> task, QElapsedTimer clock)
{
    T value = co_await std::move(task);
    co_return std::pair<T, double> { std::move(value), clock.elapsed() / 1000.0 };
}

} // namespace

TEST_F(ADBTest, RunPassesArgumentsAndReducedEnvironment)
{
    StandInTool::Answer printEnvironment;
    printEnvironment.printEnvironment = true;
    tool.on({ "devices", "-l" }, printEnvironment);
    const ProcessResult result = QCoro::waitFor(adb.run({ "devices", "-l" }, 5));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(tool.calls(), (std::vector<Arguments> { { "devices", "-l" } }));

    std::string expected;
    for (const auto& [name, value] : ProcessRunner::safeEnvironment(tool.path()))
        expected += name + "=" + value + "\n";
    EXPECT_EQ(result.stdOut + "\n", expected);
}

TEST_F(ADBTest, RunKeepsAtMost64KiBOfOutput)
{
    StandInTool::Answer flood;
    flood.chunks.push_back({ std::string(1024, 'x') + "\n", false, 0, 200 });
    tool.on({ "logcat" }, flood);
    const ProcessResult result = QCoro::waitFor(adb.run({ "logcat" }, 10));
    EXPECT_FALSE(result.timedOut);
    EXPECT_LE(result.stdOut.size(), 65536u);
    EXPECT_GT(result.stdOut.size(), 60000u);
}

TEST_F(ADBTest, MissingExecutableFailsWithoutThrowing)
{
    const ADB missing { "/nonexistent/tessaly-test/adb" };
    const ProcessResult result = QCoro::waitFor(missing.run({ "devices", "-l" }, 5));
    EXPECT_EQ(result.exitCode, -1);

    const auto connected = QCoro::waitFor(missing.connect("192.168.1.5", 5555));
    EXPECT_FALSE(connected.ok);
    EXPECT_FALSE(connected.output.empty());
    EXPECT_EQ(QCoro::waitFor(missing.wifiIP("R58M12ABCDE")), std::nullopt);
    EXPECT_EQ(QCoro::waitFor(missing.wifiBand("R58M12ABCDE")), std::nullopt);
}

TEST_F(ADBTest, ConnectRefusesAnythingButAHomeAddressWithoutRunningAdb)
{
    const std::vector<std::pair<std::string, int>> refused {
        { "8.8.8.8", 5555 },
        { "127.0.0.1", 5555 },
        { "192.168.1.255", 5555 },
        { "192.168.1.5", 80 },
        { "192.168.1.5", 1023 },
        { "192.168.1.5", 65536 },
        { "192.168.1.5", -5555 },
        { "192.168.1.5:5555", 5555 },
        { "-192.168.1.5", 5555 },
        { "", 5555 },
    };
    for (const auto& [ip, port] : refused) {
        const auto result = QCoro::waitFor(adb.connect(ip, port));
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.output,
            "Refused: " + ip + ":" + std::to_string(port) + " is not a private home-network address.");
    }
    EXPECT_TRUE(tool.calls().empty());
}

TEST_F(ADBTest, ConnectReadsTheAnswerNotTheExitStatus)
{
    struct Case {
        StandInTool::Answer reply;
        bool ok;
    };
    const std::vector<Case> cases {
        { answer("connected to 192.168.1.5:5555"), true },
        { answer("already connected to 192.168.1.5:5555"), true },
        { answer("Connected to 192.168.1.5:5555", 1), true },
        { answer("failed to connect to '192.168.1.5:5555': Connection refused"), false },
        { answer("", 1, "failed to connect to 192.168.1.5:5555"), false },
        { answer("cannot connect to 192.168.1.5:5555: No route to host (113)", 1), false },
        { answer("connected to 192.168.1.5:5555", 0, "Unable to authenticate"), false },
        { answer(""), false },
    };
    for (const auto& c : cases) {
        tool.on({ "connect", "192.168.1.5:5555" }, c.reply);
        const auto result = QCoro::waitFor(adb.connect("192.168.1.5", 5555));
        EXPECT_EQ(result.ok, c.ok) << c.reply.out << c.reply.err;
        std::string combined = c.reply.out;
        if (!c.reply.err.empty())
            combined += (combined.empty() ? "" : "\n") + c.reply.err;
        EXPECT_EQ(result.output, combined);
    }
    EXPECT_EQ(
        tool.calls(), std::vector<Arguments>(cases.size(), Arguments { "connect", "192.168.1.5:5555" }));
}

TEST_F(ADBTest, WifiIPFromTheRouteTable)
{
    tool.on(kRouteQuery,
        answer("10.110.0.0/16 dev rmnet_data1 proto kernel scope link src 10.110.5.9\n"
               "192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.23\n"));
    EXPECT_EQ(QCoro::waitFor(adb.wifiIP("R58M12ABCDE")), "192.168.1.23");
    EXPECT_EQ(tool.calls(), std::vector<Arguments> { kRouteQuery });
}

TEST_F(ADBTest, WifiIPFallsBackToTheInterfaceAddress)
{
    tool.on(kRouteQuery, answer("10.110.0.0/16 dev rmnet_data1 proto kernel scope link src 10.110.5.9\n"));
    tool.on(kAddressQuery,
        answer("30: wlan0: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500\n"
               "    inet 192.168.1.23/24 brd 192.168.1.255 scope global wlan0\n"));
    EXPECT_EQ(QCoro::waitFor(adb.wifiIP("R58M12ABCDE")), "192.168.1.23");
    EXPECT_EQ(tool.calls(), (std::vector<Arguments> { kRouteQuery, kAddressQuery }));

    tool.on(kAddressQuery, answer("", 1, "Device \"wlan0\" does not exist."));
    EXPECT_EQ(QCoro::waitFor(adb.wifiIP("R58M12ABCDE")), std::nullopt);
}

TEST_F(ADBTest, WifiBandFromTheStatus)
{
    const std::vector<std::pair<std::string, std::optional<WiFiBand>>> cases {
        { "Wifi is enabled\nWifi is connected to \"Home\"\nWifiInfo: SSID: \"Home\", RSSI: -55, Frequency: "
          "5180MHz, "
          "Net ID: 0\n",
            WiFiBand::ghz5 },
        { "Wifi is connected to \"Cafe\"\nWifiInfo: RSSI: -70, Frequency: 2437MHz\n", WiFiBand::ghz2_4 },
        { "Wifi is connected to \"New\"\nWifiInfo: SSID: \"New\", Frequency: 6115MHz\n", WiFiBand::ghz6 },
        { "Wifi is connected to \"Odd\"\nWifiInfo: SSID: \"Odd\", Frequency: 3600MHz\n", std::nullopt },
        { "Wifi is enabled\nWifi is disconnected\n", std::nullopt },
    };
    for (const auto& [status, expected] : cases) {
        tool.on(kStatusQuery, answer(status));
        EXPECT_EQ(QCoro::waitFor(adb.wifiBand("R58M12ABCDE")), expected) << status;
    }
    EXPECT_EQ(tool.calls(), std::vector<Arguments>(cases.size(), kStatusQuery));
}

TEST_F(ADBTest, UnsafeSerialIsNeverPassedToAdb)
{
    for (const std::string serial : { "-d", "", "a b", "a/b" }) {
        EXPECT_EQ(QCoro::waitFor(adb.wifiIP(serial)), std::nullopt);
        EXPECT_EQ(QCoro::waitFor(adb.wifiBand(serial)), std::nullopt);
    }
    EXPECT_TRUE(tool.calls().empty());
}

// Each command has its own time limit; what a stopped command printed is still read.
TEST_F(ADBTest, TimeLimits)
{
    StandInTool::Answer hangingRoute
        = answer("192.168.1.0/24 dev wlan0 proto kernel scope link src 192.168.1.23\n");
    hangingRoute.delay = 30;
    tool.on(kRouteQuery, hangingRoute);
    StandInTool::Answer hangingStatus
        = answer("Wifi is connected to \"Home\"\nWifiInfo: SSID: \"Home\", Frequency: 5180MHz\n");
    hangingStatus.delay = 30;
    tool.on(kStatusQuery, hangingStatus);
    StandInTool::Answer hangingConnect = answer("connected to 192.168.1.5:5555");
    hangingConnect.delay = 30;
    tool.on({ "connect", "192.168.1.5:5555" }, hangingConnect);

    // The three run side by side; the pool must not make one wait for another.
    QThreadPool::globalInstance()->setMaxThreadCount(
        std::max(QThreadPool::globalInstance()->maxThreadCount(), 4));
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
    EXPECT_GE(ipSeconds, 4.5);
    EXPECT_LT(ipSeconds, 7.0);
    EXPECT_GE(bandSeconds, 4.5);
    EXPECT_LT(bandSeconds, 7.0);
    EXPECT_GE(connectSeconds, 7.5);
    EXPECT_LT(connectSeconds, 10.0);
}
