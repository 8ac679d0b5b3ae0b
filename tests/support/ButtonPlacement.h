#pragma once

#include <QPushButton>
#include <QWidget>

namespace tessaly::test {

// Whether `button` sits left of every other button `window` shows (laid out at least once).
inline bool isLeftmostButton(QWidget& window, QPushButton* button)
{
    const int x = button->mapTo(&window, QPoint()).x();
    for (QPushButton* other : window.findChildren<QPushButton*>())
        if (other != button && other->isVisibleTo(&window) && other->mapTo(&window, QPoint()).x() <= x)
            return false;
    return button->isVisibleTo(&window);
}

} // namespace tessaly::test
