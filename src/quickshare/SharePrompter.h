#pragma once

#include <QUuid>
#include <cstdint>
#include <functional>

#include "quickshare/IncomingShare.h"

namespace tessaly {

// The user's side of a share: asks, shows progress and the outcome. The prompt cards implement
// it; the controller talks to it only through this seam so tests can answer for the user.
class SharePrompter {
public:
    virtual ~SharePrompter() = default;

    // `answer` takes the user's choice once; `stop` ends an accepted transfer.
    virtual void ask(const IncomingShare& share, std::function<void(bool accept)> answer,
        std::function<void()> stop)
        = 0;
    // Ignored when no prompt shows that share.
    virtual void progress(const QUuid& id, std::int64_t receivedBytes) = 0;
    virtual void finished(const QUuid& id, const ShareResult& result) = 0;
};

} // namespace tessaly
