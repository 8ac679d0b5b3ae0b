#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/AvahiAdvertiser.h"
#include "tools/ProcessRunner.h"

namespace tessaly {
namespace {

const std::string type = "_FC9F5ED42C8A._tcp";
const std::string notRunning = "phones can’t find this computer: the Avahi service isn’t running";

struct Events {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> established, failed;

    ServiceAdvertiser::Handlers handlers()
    {
        return { [this](const std::string& name) { add(established, name); },
            [this](const std::string& reason) { add(failed, reason); } };
    }
    void add(std::vector<std::string>& list, const std::string& value)
    {
        const std::lock_guard guard(lock);
        list.push_back(value);
        changed.notify_all();
    }
    // Waits for the first outcome and answers the established names, or the failures.
    std::vector<std::string> outcome()
    {
        std::unique_lock guard(lock);
        changed.wait_for(
            guard, std::chrono::seconds(20), [this] { return !established.empty() || !failed.empty(); });
        return failed.empty() ? established : failed;
    }
};

ServiceAdvertiser::Service service(const std::string& name, std::uint16_t port)
{
    return { type, name, port, { { "n", "EnRlc3QtbWFjaGluZQ" } } };
}

TEST(AvahiAdvertiser_NoDaemon, SaysTheAvahiServiceIsNotRunning)
{
    const char* bus = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string saved = bus ? bus : "";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tessaly-test-bus", 1);
    Events events;
    AvahiAdvertiser advertiser;
    advertiser.publish(
        service("IzEyMzT8n14AAA", 4000), [] { return "other"; }, events.handlers());
    EXPECT_EQ(events.outcome(), std::vector { notRunning });
    advertiser.withdraw();
    bus ? setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1) : unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

// The tests below need a private avahi-daemon: tests/platform/avahi-netns.sh starts one inside a
// network namespace of its own and runs them there.
const char* liveDaemon()
{
    return std::getenv("TESSALY_AVAHI_DAEMON_PID");
}

// The resolved lines of `avahi-browse -rtp`, such as
// =;v0;IPv4;IzEyMzT8n14AAA;_FC9F5ED42C8A._tcp;local;box.local;192.0.2.1;4711;"n=EnRlc3QtbWFjaGluZQ"
std::vector<std::string> browse()
{
    const Environment environment { { "DBUS_SYSTEM_BUS_ADDRESS", std::getenv("DBUS_SYSTEM_BUS_ADDRESS") } };
    const auto result
        = ProcessRunner::runBlocking("/usr/bin/avahi-browse", { "-rtp", type }, environment, 20);
    std::vector<std::string> lines;
    std::istringstream in(result.stdOut);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("=;") && line.find(";IPv4;") != std::string::npos)
            lines.push_back(line.substr(line.find(";IPv4;") + 6));
    }
    return lines;
}

bool seen(const std::vector<std::string>& lines, const std::string& name, const std::string& port)
{
    for (const auto& line : lines) {
        if (line.starts_with(name + ";" + type + ";local;")
            && line.ends_with(";" + port + ";\"n=EnRlc3QtbWFjaGluZQ\""))
            return true;
    }
    return false;
}

TEST(AvahiAdvertiser_Live, AnnouncesUntilWithdrawnAndRenamesOnCollision)
{
    if (!liveDaemon())
        GTEST_SKIP() << "needs the private avahi-daemon of tests/platform/avahi-netns.sh";
    Events first, second;
    AvahiAdvertiser one, two;
    one.publish(
        service("IzEyMzT8n14AAA", 4711), [] { return "unused"; }, first.handlers());
    ASSERT_EQ(first.outcome(), std::vector<std::string> { "IzEyMzT8n14AAA" });
    two.publish(
        service("IzEyMzT8n14AAA", 4712), [] { return "I2FiY2T8n14AAA"; }, second.handlers());
    ASSERT_EQ(second.outcome(), std::vector<std::string> { "I2FiY2T8n14AAA" });

    auto lines = browse();
    EXPECT_TRUE(seen(lines, "IzEyMzT8n14AAA", "4711")) << ::testing::PrintToString(lines);
    EXPECT_TRUE(seen(lines, "I2FiY2T8n14AAA", "4712")) << ::testing::PrintToString(lines);
    two.withdraw();
    // The other end of the veth pair keeps what it heard until the goodbye is processed.
    for (int tries = 0; tries < 10 && seen(lines, "I2FiY2T8n14AAA", "4712"); ++tries) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        lines = browse();
    }
    EXPECT_TRUE(seen(lines, "IzEyMzT8n14AAA", "4711"));
    EXPECT_FALSE(seen(lines, "I2FiY2T8n14AAA", "4712"));
    EXPECT_TRUE(first.failed.empty() && second.failed.empty());
}

// Runs last: it ends the daemon.
TEST(AvahiAdvertiser_Live, SaysSoWhenTheDaemonGoesAway)
{
    if (!liveDaemon())
        GTEST_SKIP() << "needs the private avahi-daemon of tests/platform/avahi-netns.sh";
    Events events;
    AvahiAdvertiser advertiser;
    advertiser.publish(
        service("IzEyMzT8n14AAA", 4711), [] { return "unused"; }, events.handlers());
    ASSERT_EQ(events.outcome(), std::vector<std::string> { "IzEyMzT8n14AAA" });
    kill(std::atoi(liveDaemon()), SIGTERM);
    std::unique_lock guard(events.lock);
    events.changed.wait_for(guard, std::chrono::seconds(20), [&] { return !events.failed.empty(); });
    EXPECT_EQ(events.failed, std::vector { notRunning });
}

} // namespace
} // namespace tessaly
