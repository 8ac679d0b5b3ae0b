#pragma once

#include <string>
#include <vector>

#include <QUrl>

namespace tessaly {

// Hands things over to the desktop's own applications. Tests hand in one that records.
class DesktopLauncher {
public:
    virtual ~DesktopLauncher() = default;

    // Shows the files (absolute paths), selected, in a file manager window.
    virtual void showInFolder(const std::vector<std::string>& paths) = 0;
    // Opens the link with the user's default application for it.
    virtual void openLink(const QUrl& link) = 0;
};

} // namespace tessaly
