#pragma once

#include <memory>

#include "controller/WirelessPairing.h"
#include "support/ControllerFakes.h"

namespace tessaly::test {

// What the browsers made by `factory()` were asked; tests play the network through `handlers`.
struct FakeBrowsing {
    std::vector<std::string> types;
    ServiceBrowser::Handlers handlers;
    bool browsing = false;

    void resolve(const std::string& type, const std::string& name, const std::string& address, int port)
    {
        handlers.resolved({ type, name, address, static_cast<std::uint16_t>(port) });
    }
    std::function<std::unique_ptr<ServiceBrowser>()> factory()
    {
        struct Browser : ServiceBrowser {
            FakeBrowsing* log = nullptr;
            void browse(std::vector<std::string> types, Handlers handlers) override
            {
                *log = { std::move(types), std::move(handlers), true };
            }
            void stop() override { log->browsing = false; }
        };
        return [this] {
            auto browser = std::make_unique<Browser>();
            browser->log = this;
            return browser;
        };
    }
};

// A pairing over the stand-in adb (the given `version` line) and a fake network, short waits. The
// phone at 192.168.1.23 pairs on port 37105 and connects on 41234, listed as a Pixel_7.
struct PairingRig {
    ControllerRig rig;
    std::unique_ptr<AppState> state;
    FakeBrowsing network;
    std::unique_ptr<WirelessPairing> owned = nullptr;
    WirelessPairing* pairing = nullptr;

    explicit PairingRig(const std::string& version, double scanWait, double connectDelay = 0)
    {
        rig.adb.on({ "version" }, { .out = "Android Debug Bridge version 1.0.41\n" + version });
        rig.adb.onPrefix({ "pair" },
            { .out = "Successfully paired to 192.168.1.23:37105 [guid=adb-R58M-AbCd]", .readsInput = true });
        rig.adb.on({ "connect", "192.168.1.23:41234" },
            { .out = "connected to 192.168.1.23:41234", .delay = connectDelay });
        rig.adb.on({ "devices", "-l" }, deviceList({ "192.168.1.23:41234 device model:Pixel_7" }));
        state = rig.make();
        owned = std::make_unique<WirelessPairing>(*state, network.factory(),
            WirelessPairing::Limits { .scanWait = scanWait, .connectServiceWait = 0.3, .pollMs = 5 });
        pairing = owned.get();
    }
    bool reaches(WirelessPairing::Stage stage)
    {
        return waitFor([&] { return pairing->stage() == stage; });
    }
    // The phone scanned the code: it announces the pairing service under the code's name.
    void phoneScans(const std::string& address = "192.168.1.23", bool withConnect = true)
    {
        if (withConnect)
            network.resolve("_adb-tls-connect._tcp", "adb-R58M-x5Tq", address, 41234);
        network.resolve("_adb-tls-pairing._tcp", pairing->serviceName(), address, 37105);
    }
};

} // namespace tessaly::test
