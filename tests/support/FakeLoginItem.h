#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/LoginItem.h"

namespace tessaly::test {

// Launch at login as a test sets it up: `failure`, when set, is returned by every change
// and leaves `enabled` as it was.
class FakeLoginItem : public LoginItemService {
public:
    bool enabled = false;
    std::optional<std::string> failure;
    std::vector<bool> requests; // every setEnabled argument, in order

    bool isEnabled() const override { return enabled; }
    std::optional<std::string> setEnabled(bool on) override
    {
        requests.push_back(on);
        if (failure)
            return failure;
        enabled = on;
        return std::nullopt;
    }
};

} // namespace tessaly::test
