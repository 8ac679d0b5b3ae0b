#pragma once

#include <QAction>
#include <QMenu>

#include "app/MenuContent.h"
#include "support/ControllerFakes.h"
#include "support/Screenshots.h"

namespace tessaly::test {

using C = Device::Connection;

inline QAction* item(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

// The menu's visible entries as a reader sees them, dividers as "--".
inline QStringList entries(const QMenu& menu)
{
    QStringList texts;
    for (QAction* action : menu.actions())
        if (action->isVisible())
            texts << (action->isSeparator() ? QStringLiteral("--") : action->text());
    return texts;
}

} // namespace tessaly::test
