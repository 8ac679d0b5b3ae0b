#pragma once

#include <optional>

#include <QIcon>

#include "mirroring/ScrcpyOutput.h"
#include <QPixmap>

namespace tessaly::TrayIcon {

// The phone symbol, with radio waves while mirroring, and the frame rate drawn onto it
// when one is given.
QIcon icon(bool mirroring, std::optional<int> fps);

// The number the icon carries: the frame rate while mirroring with "Show FPS" on.
std::optional<int> shownNumber(bool showFPS, bool mirroring, const std::optional<FPSReading>& reading);

// One rendering of that icon at `size` pixels (used by the icon and by screenshots).
QPixmap pixmap(bool mirroring, std::optional<int> fps, int size);

} // namespace tessaly::TrayIcon
