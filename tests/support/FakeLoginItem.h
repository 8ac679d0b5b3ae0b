#pragma once

#include "platform/LoginItem.h"

namespace tessaly::test {

// Launch at login as a test sets it up: a set `failure` is returned by every change, which
// then leaves `enabled` as it was.
class FakeLoginItem : public LoginItemService {
public:
    bool enabled = false;
    std::optional<std::string> failure;

    bool isEnabled() const override { return enabled; }
    std::optional<std::string> setEnabled(bool on) override
    {
        enabled = failure ? enabled : on;
        return failure;
    }
};

} // namespace tessaly::test
