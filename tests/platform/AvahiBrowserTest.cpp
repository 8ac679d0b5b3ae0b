#include <chrono>
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "platform/AvahiAdvertiser.h"
#include "platform/AvahiBrowser.h"

namespace tessaly {
namespace {

using Lines = std::vector<std::string>;

// What the handlers reported, sorted, as "TYPE NAME PORT ADDRESS" and "failed: REASON"; the
// announcing end of the veth pair (192.0.2.1 or .2) reads 192.0.2.x, answers on lo are left out.
struct Seen {
    std::mutex lock;
    std::condition_variable changed;
    Lines lines;

    ServiceBrowser::Handlers handlers()
    {
        return { [this](const ServiceBrowser::Found& s) {
                    if (s.address != "127.0.0.1")
                        add(s.type + " " + s.name + " " + std::to_string(s.port) + " "
                            + (s.address.starts_with("192.0.2.") ? "192.0.2.x" : s.address));
                },
            [this](const std::string& type, const std::string& name) {
                add("unresolved: " + type + " " + name);
            },
            [this](const std::string& reason) { add("failed: " + reason); } };
    }
    void add(const std::string& line)
    {
        const std::lock_guard guard(lock);
        if (std::find(lines.begin(), lines.end(), line) == lines.end())
            lines.push_back(line);
        changed.notify_all();
    }
    Lines first(std::size_t count)
    {
        std::unique_lock guard(lock);
        changed.wait_for(guard, std::chrono::seconds(20), [&] { return lines.size() >= count; });
        std::sort(lines.begin(), lines.end());
        return lines;
    }
};

TEST(AvahiBrowser_Live, ResolvesEveryInstanceOfTheBrowsedTypesOnly)
{
    if (!getenv("TESSALY_AVAHI_DAEMON_PID"))
        GTEST_SKIP() << "needs the private avahi-daemon of tests/platform/avahi-netns.sh";
    // A stand-in phone that scanned a code, and a service of no interest.
    AvahiAdvertiser pairing, connect, other;
    const auto rename = [] { return std::string("renamed"); };
    pairing.publish({ "_adb-tls-pairing._tcp", "tessaly-live1", 37105, {} }, rename, {});
    connect.publish({ "_adb-tls-connect._tcp", "adb-R58M-live", 41234, {} }, rename, {});
    other.publish({ "_ipp._tcp", "printer", 631, {} }, rename, {});

    Seen seen;
    AvahiBrowser browser;
    browser.browse({ "_adb-tls-pairing._tcp", "_adb-tls-connect._tcp" }, seen.handlers());
    EXPECT_EQ(seen.first(2),
        (Lines { "_adb-tls-connect._tcp adb-R58M-live 41234 192.0.2.x",
            "_adb-tls-pairing._tcp tessaly-live1 37105 192.0.2.x" }));
}

} // namespace
} // namespace tessaly
