#include "app/MenuWindow.h"

#include <algorithm>
#include <vector>

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidgetAction>

#include "app/MenuContent.h"

namespace tessaly {

namespace {

constexpr int kColumnWidth = 280;

using Group = std::vector<QAction*>;

// The menu's dividers cut it into groups: the first holds the status lines.
std::vector<Group> groupsOf(const QMenu& menu)
{
    std::vector<Group> groups(1);
    for (QAction* action : menu.actions()) {
        if (!action->isSeparator())
            groups.back().push_back(action);
        else if (!groups.back().empty())
            groups.emplace_back();
    }
    if (groups.size() > 1 && groups.back().empty())
        groups.pop_back();
    return groups;
}

// Where the groups after the first go over to the second column: as even a split as the
// groups allow.
std::size_t columnBreak(const std::vector<Group>& groups)
{
    std::size_t total = 0;
    for (std::size_t i = 1; i < groups.size(); ++i)
        total += groups[i].size();
    std::size_t best = groups.size(), bestTallest = total, left = 0;
    for (std::size_t i = 1; i < groups.size(); ++i) {
        left += groups[i].size();
        const std::size_t tallest = std::max(left, total - left);
        if (tallest < bestTallest) {
            bestTallest = tallest;
            best = i + 1;
        }
    }
    return best;
}

void embolden(QWidget* widget)
{
    QFont bold = widget->font();
    bold.setBold(true);
    widget->setFont(bold);
}

QVBoxLayout* column(QWidget* parent)
{
    auto* layout = new QVBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    return layout;
}

} // namespace

MenuWindow::MenuWindow(MenuContent& content, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_content(content)
{
    setWindowTitle(QStringLiteral("Tessaly"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 16);
    layout->setSpacing(10);
    // The window follows its content's size as lines come and go.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_trayHint = new QLabel(
        QStringLiteral("This desktop shows no tray icons, so Tessaly’s menu is here. On GNOME, add the "
                       "“AppIndicator and KStatusNotifierItem Support” extension (package "
                       "gnome-shell-extension-appindicator), then log out and in again to get the icon.\n"
                       "Closing this window leaves Tessaly running: start Tessaly again to bring it back."));
    m_trayHint->setWordWrap(true);
    m_trayHint->setFrameShape(QFrame::StyledPanel);
    m_trayHint->setMargin(8);
    m_trayHint->setVisible(false);
    layout->addWidget(m_trayHint);

    const std::vector<Group> groups = groupsOf(*content.menu());
    auto* status = new QWidget;
    QVBoxLayout* statusLines = column(status);
    for (QAction* action : groups.front())
        statusLines->addWidget(viewOf(action));
    // The first line says where the phone stands.
    if (QLayoutItem* first = statusLines->itemAt(0))
        embolden(first->widget());
    layout->addWidget(status);

    auto* columns = new QHBoxLayout;
    columns->setSpacing(24);
    layout->addLayout(columns);
    const std::size_t secondColumn = columnBreak(groups);
    QWidget* current = nullptr;
    for (std::size_t i = 1; i < groups.size(); ++i) {
        if (!current || i == secondColumn) {
            current = new QWidget;
            current->setMinimumWidth(kColumnWidth);
            column(current);
            columns->addWidget(current, 0, Qt::AlignTop);
        } else {
            static_cast<QVBoxLayout*>(current->layout())->addSpacing(12);
        }
        for (QAction* action : groups[i])
            current->layout()->addWidget(viewOf(action));
    }

    // Their keys (Ctrl+M, Ctrl+F, Ctrl+Q) work here as in the menu.
    for (QAction* action : content.menu()->actions())
        if (!action->shortcut().isEmpty())
            addAction(action);
}

MenuWindow::~MenuWindow()
{
    m_content.viewHidden(this);
}

QWidget* MenuWindow::lineOf(QAction* action, bool heading)
{
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    if (heading)
        embolden(label);
    const auto sync = [label, action] {
        label->setText(action->text());
        label->setEnabled(action->isEnabled());
        label->setVisible(action->isVisible());
    };
    connect(action, &QAction::changed, label, sync);
    sync();
    return label;
}

QWidget* MenuWindow::viewOf(QAction* action)
{
    if (qobject_cast<QWidgetAction*>(action))
        return lineOf(action, false);
    if (action->property(MenuContent::kHeadingProperty).toBool())
        return lineOf(action, true);

    QAbstractButton* button = nullptr;
    if (!action->isCheckable())
        button = new QPushButton;
    else if (action->actionGroup() && action->actionGroup()->isExclusive())
        button = new QRadioButton;
    else
        button = new QCheckBox;
    // The action decides what is checked; the button only shows it.
    button->setAutoExclusive(false);
    const auto sync = [button, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
        button->setVisible(action->isVisible());
        button->setChecked(action->isChecked());
        const QString keys = action->shortcut().toString(QKeySequence::NativeText);
        button->setToolTip(keys.isEmpty() ? QString() : keys);
    };
    connect(action, &QAction::changed, button, sync);
    if (QMenu* submenu = action->menu())
        static_cast<QPushButton*>(button)->setMenu(submenu);
    else
        connect(button, &QAbstractButton::clicked, action, [action, sync] {
            action->trigger();
            // A choice the controller turned down leaves the action as it was, and no change is
            // signalled: the button shows the action again.
            sync();
        });
    sync();
    return button;
}

void MenuWindow::setTrayMissing(bool missing)
{
    if (missing == m_trayMissing)
        return;
    m_trayMissing = missing;
    m_trayHint->setVisible(missing);
    if (missing && !isVisible()) {
        m_shownForMissingTray = true;
        placeOnce();
        show();
    } else if (!missing && std::exchange(m_shownForMissingTray, false)) {
        hide();
    }
}

void MenuWindow::bringForward()
{
    // Asked for: it no longer goes away by itself when a tray comes.
    m_shownForMissingTray = false;
    placeOnce();
    show();
    raise();
    activateWindow();
}

void MenuWindow::placeOnce()
{
    if (std::exchange(m_placed, true))
        return;
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void MenuWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The controller keeps its phone list fresh while a menu, or this window, is on screen.
    m_content.viewShown(this);
}

void MenuWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_content.viewHidden(this);
}

} // namespace tessaly
