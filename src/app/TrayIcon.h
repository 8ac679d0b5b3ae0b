#pragma once

#include <optional>

#include <QIcon>
#include <QPixmap>

#include "mirroring/ScrcpyOutput.h"

namespace tessaly::TrayIcon {

// The phone symbol, with radio waves while mirroring, and the frame rate drawn onto it
// when one is given. When the panel draws the icon itself from a theme name (a status
// notifier host), the theme's symbolic icons are used if it has them, so the panel tints
// them for its own background; otherwise the bundled two-tone drawing, which reads on dark
// and light panels alike.
QIcon icon(bool mirroring, std::optional<int> fps, bool panelDrawsIcon);

// The number the icon carries: the frame rate while mirroring with "Show FPS" on.
std::optional<int> shownNumber(bool showFPS, bool mirroring, const std::optional<FPSReading>& reading);

// The bundled drawing at `size` pixels (used by the icon and by screenshots).
QPixmap pixmap(bool mirroring, std::optional<int> fps, int size);

// Whether a status notifier host (a panel that draws tray icons itself) is on the session bus.
bool statusNotifierHostPresent();

} // namespace tessaly::TrayIcon
