#pragma once

#include <utility>
#include <vector>

#include <QWidget>

#include "quickshare/ShareCardText.h"

class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tessaly {

class DesktopLauncher;
class ShareCard;
class WrappedText;

// One share card on screen: a small frameless window that stays on top of other windows and
// never takes the keyboard focus from what the user is doing.
class ShareCardView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidth = 440;

    ShareCardView(ShareCard& card, DesktopLauncher& desktop);
    ~ShareCardView() override;

    ShareCard& card() const { return m_card; }
    // Takes the height the content needs at the card's width.
    void fitToContent();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void redraw();
    void showProgress();
    void showSymbol();
    void addButtons();
    void showButtons();
    void act(ShareCardText::Action action);

    ShareCard& m_card;
    DesktopLauncher& m_desktop;
    QLabel* m_symbol;
    WrappedText* m_title;
    WrappedText* m_detail;
    WrappedText* m_code;
    WrappedText* m_codeHint;
    QProgressBar* m_progress;
    WrappedText* m_progressLine;
    QHBoxLayout* m_buttons;
    std::vector<std::pair<ShareCardText::Action, QPushButton*>> m_actionButtons;
};

} // namespace tessaly
