#pragma once

#include <memory>
#include <string>

#include <QCoroTask>

#include "mirroring/ScrcpyCapabilities.h"
#include "tools/ProcessRunner.h"

namespace tessaly {

// Each scrcpy executable's capabilities, read from its `--help` once per identity (path, size
// and change time of the file it runs; for a snap also the revision it points at). Used on the
// GUI thread; a pending read holds the cache's store, so the cache may go first.
class ScrcpyCapabilityCache {
public:
    static constexpr double kHelpLimit = 5;

    ScrcpyCapabilityCache();

    // A read that could not run to its end (not started, timed out) is not kept.
    QCoro::Task<ScrcpyCapabilities> capabilities(std::string executable, Environment environment);

private:
    struct Store;
    std::shared_ptr<Store> m_store;
};

} // namespace tessaly
