#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/AvahiAdvertiser.h"
#include "platform/AvahiBrowser.h"
#include "tools/ProcessRunner.h"

namespace tessaly {
namespace {

using Lines = std::vector<std::string>;
const std::string type = "_FC9F5ED42C8A._tcp";
const std::string notRunning = "failed: phones can’t find this computer: the Avahi service isn’t running";

// What the handlers reported, in order of arrival: the advertiser's as "established: NAME" and
// "failed: REASON"; the browser's once each, as "TYPE NAME PORT ADDRESS" (the announcing end of
// the veth pair, 192.0.2.1 or .2, reads 192.0.2.x; answers on lo are left out), "unresolved: TYPE
// NAME" and "failed: REASON".
struct Events {
    std::mutex lock;
    std::condition_variable changed;
    Lines seen;

    ServiceAdvertiser::Handlers handlers()
    {
        return { [this](const std::string& name) { add("established: " + name); },
            [this](const std::string& reason) { add("failed: " + reason); } };
    }
    ServiceBrowser::Handlers browserHandlers()
    {
        return { [this](const ServiceBrowser::Found& s) {
                    if (s.address != "127.0.0.1")
                        add(s.type + " " + s.name + " " + std::to_string(s.port) + " "
                                + (s.address.starts_with("192.0.2.") ? "192.0.2.x" : s.address),
                            true);
                },
            [this](const std::string& kind, const std::string& name) {
                add("unresolved: " + kind + " " + name, true);
            },
            [this](const std::string& reason) { add("failed: " + reason, true); } };
    }
    void add(const std::string& event, bool once = false)
    {
        const std::lock_guard guard(lock);
        if (!once || std::find(seen.begin(), seen.end(), event) == seen.end())
            seen.push_back(event);
        changed.notify_all();
    }
    Lines first(std::size_t count)
    {
        std::unique_lock guard(lock);
        changed.wait_for(guard, std::chrono::seconds(20), [&] { return seen.size() >= count; });
        return seen;
    }
};

// Announces `name` on `port` with the TXT record n=EnRlc3QtbWFjaGluZQ; collisions rename to `next`.
void publish(AvahiAdvertiser& advertiser, Events& events, const std::string& name, std::uint16_t port,
    const std::string& next = "unused")
{
    advertiser.publish(
        { type, name, port, { { "n", "EnRlc3QtbWFjaGluZQ" } } }, [next] { return next; }, events.handlers());
}

TEST(AvahiAdvertiser_NoDaemon, SaysTheAvahiServiceIsNotRunning)
{
    const std::string saved = getenv("DBUS_SYSTEM_BUS_ADDRESS") ? getenv("DBUS_SYSTEM_BUS_ADDRESS") : "";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tessaly-test-bus", 1);
    Events events;
    AvahiAdvertiser advertiser;
    publish(advertiser, events, "IzEyMzT8n14AAA", 4000);
    EXPECT_EQ(events.first(1), Lines { notRunning });
    advertiser.withdraw();
    saved.empty() ? unsetenv("DBUS_SYSTEM_BUS_ADDRESS") : setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
}

// The tests below need the private avahi-daemon that tests/platform/avahi-netns.sh starts inside a
// network namespace of its own, and run there in the order written.
const char* liveDaemon = getenv("TESSALY_AVAHI_DAEMON_PID");

// What `avahi-browse -rtp` resolves with the TXT record, as "NAME PORT" once each (either end of
// the veth pair may answer); a resolved line looks like
// =;v0;IPv4;IzEyMzT8n14AAA;_FC9F5ED42C8A._tcp;local;box.local;192.0.2.1;4711;"n=EnRlc3QtbWFjaGluZQ"
std::set<std::string> browsed()
{
    const Environment environment { { "DBUS_SYSTEM_BUS_ADDRESS", getenv("DBUS_SYSTEM_BUS_ADDRESS") } };
    std::istringstream out(
        ProcessRunner::runBlocking("/usr/bin/avahi-browse", { "-rtp", type }, environment, 20).stdOut);
    std::set<std::string> found;
    for (std::string line; std::getline(out, line);) {
        std::vector<std::string> fields;
        for (std::size_t from = 0, to = 0; to != std::string::npos; from = to + 1)
            fields.push_back(line.substr(from, (to = line.find(';', from)) - from));
        if (fields.size() == 10 && fields[0] == "=" && fields[2] == "IPv4" && fields[4] == type
            && fields[5] == "local" && fields[9] == "\"n=EnRlc3QtbWFjaGluZQ\"")
            found.insert(fields[3] + " " + fields[8]);
    }
    return found;
}

// Runs before the advertiser's live test, which ends the daemon.
TEST(AvahiBrowser_Live, ResolvesEveryInstanceOfTheBrowsedTypesOnly)
{
    if (!liveDaemon)
        GTEST_SKIP() << "needs the private avahi-daemon of tests/platform/avahi-netns.sh";
    // A stand-in phone that scanned a code, and a service of no interest.
    AvahiAdvertiser pairing, connect, other;
    const auto rename = [] { return std::string("renamed"); };
    pairing.publish({ "_adb-tls-pairing._tcp", "tessaly-live1", 37105, {} }, rename, {});
    connect.publish({ "_adb-tls-connect._tcp", "adb-R58M-live", 41234, {} }, rename, {});
    other.publish({ "_ipp._tcp", "printer", 631, {} }, rename, {});

    Events seen;
    AvahiBrowser browser;
    browser.browse({ "_adb-tls-pairing._tcp", "_adb-tls-connect._tcp" }, seen.browserHandlers());
    Lines lines = seen.first(2);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines,
        (Lines { "_adb-tls-connect._tcp adb-R58M-live 41234 192.0.2.x",
            "_adb-tls-pairing._tcp tessaly-live1 37105 192.0.2.x" }));
}

TEST(AvahiAdvertiser_Live, AnnouncesUntilWithdrawnRenamesOnCollisionAndSaysWhenTheDaemonGoesAway)
{
    if (!liveDaemon)
        GTEST_SKIP() << "needs the private avahi-daemon of tests/platform/avahi-netns.sh";
    Events first, second;
    AvahiAdvertiser one, two;
    publish(one, first, "IzEyMzT8n14AAA", 4711);
    ASSERT_EQ(first.first(1), Lines { "established: IzEyMzT8n14AAA" });
    publish(two, second, "IzEyMzT8n14AAA", 4712, "I2FiY2T8n14AAA");
    ASSERT_EQ(second.first(1), Lines { "established: I2FiY2T8n14AAA" });
    EXPECT_EQ(browsed(), (std::set<std::string> { "I2FiY2T8n14AAA 4712", "IzEyMzT8n14AAA 4711" }));

    two.withdraw();
    // The other end of the veth pair keeps what it heard until the goodbye is processed.
    const std::set<std::string> left { "IzEyMzT8n14AAA 4711" };
    std::set<std::string> now = browsed();
    for (int tries = 0; tries < 50 && now != left; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        now = browsed();
    }
    EXPECT_EQ(now, left);

    // The daemon going away reaches the announcement still up, and nothing else is heard.
    kill(std::atoi(liveDaemon), SIGTERM);
    EXPECT_EQ(first.first(2), (Lines { "established: IzEyMzT8n14AAA", notRunning }));
    EXPECT_EQ(second.first(1), Lines { "established: I2FiY2T8n14AAA" });
}

} // namespace
} // namespace tessaly
