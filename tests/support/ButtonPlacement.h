#pragma once

#include <QPushButton>

namespace tessaly::test {

// Whether `button` shows left of every other button `window` shows (laid out at least once).
inline bool isLeftmostButton(QWidget& window, QPushButton* button)
{
    const auto left = [&](QWidget* part) { return part->mapTo(&window, QPoint()).x(); };
    for (QPushButton* other : window.findChildren<QPushButton*>())
        if (other != button && other->isVisibleTo(&window) && left(other) <= left(button))
            return false;
    return button->isVisibleTo(&window);
}

} // namespace tessaly::test
