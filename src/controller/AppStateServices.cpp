#include "controller/AppState.h"

#include "phone/ADBChoice.h"
#include "platform/AvahiAdvertiser.h"
#include "platform/ComputerName.h"
#include "platform/LocalFiles.h"
#include "platform/QSettingsDefaults.h"
#include "tools/ToolLocator.h"

namespace tessaly {

AppState::Services AppState::systemServices(std::shared_ptr<Presenter> presenter)
{
    Services services;
    services.adbPath = ADBChoice::choose();
    services.scrcpyPath = ToolLocator::findScrcpy();
    services.defaults = std::make_shared<QSettingsDefaults>();
    services.loginItem = std::make_shared<LoginItem>();
    services.network = std::make_shared<SystemNetworkInfo>();
    services.presenter = std::move(presenter);
    services.clock = std::make_shared<SystemClock>();
    services.quickShare = std::make_shared<QuickShareReceiver>(QuickShareReceiver::Environment {
        std::make_shared<AvahiAdvertiser>(), steadyQuickShareClock(), &LocalFiles::availableCapacity, 5000 });
    services.downloadsFolder = &LocalFiles::downloadsFolder;
    services.computerName = [] { return ComputerName::current(); };
    services.picturesFolder = &LocalFiles::picturesFolder;
    services.localTime = [] { return QDateTime::currentDateTime(); };
    return services;
}

} // namespace tessaly
