#pragma once

#include <string>
#include <vector>

namespace tessaly::RevealFiles {

// Shows saved files selected in the desktop's file manager; when none answers, opens the
// folder that holds the first one.
void show(const std::vector<std::string>& paths);

} // namespace tessaly::RevealFiles
