#pragma once

#include "platform/DesktopLauncher.h"

namespace tessaly {

// The freedesktop way: the file manager's D-Bus interface (org.freedesktop.FileManager1) selects
// the files; without one that answers, the folder of the first file is opened instead.
class XdgDesktopLauncher final : public DesktopLauncher {
public:
    void showInFolder(const std::vector<std::string>& paths) override;
    void openLink(const QUrl& link) override;
};

} // namespace tessaly
