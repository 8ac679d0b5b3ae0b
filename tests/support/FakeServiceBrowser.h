#pragma once

#include <memory>

#include "platform/ServiceBrowser.h"

namespace tessaly::test {

// What the browsers made by `factory()` were asked, and a way to play the network's answers
// to the browse under way.
struct FakeBrowsing {
    std::vector<std::string> types;
    ServiceBrowser::Handlers handlers;
    int browses = 0;
    int stops = 0;

    bool browsing() const { return browses > stops; }
    void resolve(const std::string& type, const std::string& name, const std::string& address, int port)
    {
        handlers.resolved({ type, name, address, static_cast<std::uint16_t>(port) });
    }

    std::function<std::unique_ptr<ServiceBrowser>()> factory()
    {
        struct Browser : ServiceBrowser {
            FakeBrowsing* log;
            explicit Browser(FakeBrowsing* into)
                : log(into)
            {
            }
            void browse(std::vector<std::string> types, Handlers handlers) override
            {
                log->types = std::move(types);
                log->handlers = std::move(handlers);
                ++log->browses;
            }
            void stop() override { log->stops = log->browses; }
        };
        return [this] { return std::make_unique<Browser>(this); };
    }
};

} // namespace tessaly::test
