#pragma once

#include <optional>

#include <QPoint>
#include <QRect>
#include <QSize>

namespace tessaly::MenuPlacement {

// Where the tray menu's top left corner goes for a click at `cursor` on an icon inside `panel`:
// beside the panel, on the side away from the screen edge it sits on (as panels place menus
// themselves), never over it, and inside `screen`. Without a panel, at the cursor.
QPoint position(const std::optional<QRect>& panel, QPoint cursor, QSize menu, QRect screen);

// The top-level window under the pointer (the panel just clicked), in Qt's coordinates; none
// where the windowing system does not say (Wayland) or when the window covers most of the
// screen and so is no panel.
std::optional<QRect> panelUnderPointer();

} // namespace tessaly::MenuPlacement
