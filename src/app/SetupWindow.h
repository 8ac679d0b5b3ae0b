#pragma once

#include <memory>

#include <QObject>
#include <QWidget>

#include "app/SetupGuide.h"

class QLabel;
class QPushButton;

namespace tessaly {

class AppState;

// The setup guide's content: a view of SetupGuide that redraws whenever the guide changes
// and keeps nothing of its own.
class SetupView : public QWidget {
    Q_OBJECT

public:
    // Each step's icon label carries this property: "done", "warning", "step-2" or "step-3".
    static constexpr const char* kMarkProperty = "mark";

    explicit SetupView(SetupGuide& guide, QWidget* parent = nullptr);
    ~SetupView() override;

signals:
    // "Mirror Phone" was clicked.
    void mirrorRequested();

private:
    void redraw();

    SetupGuide& m_guide;
    QLabel* m_engineIcon = nullptr;
    QLabel* m_engineLine = nullptr;
    QWidget* m_install = nullptr;
    QLabel* m_debuggingIcon = nullptr;
    QLabel* m_cableIcon = nullptr;
    QLabel* m_phoneLine = nullptr;
    QPushButton* m_mirror = nullptr;
};

// Owns the "Getting Started" window. The window is made on the first show() and kept;
// closing it only stops the guide's polling.
class SetupWindowController : public QObject {
    Q_OBJECT

public:
    static constexpr int kWidth = 540;
    static constexpr int kHeight = 560;

    explicit SetupWindowController(
        AppState& state, int pollIntervalMs = SetupGuide::kPollIntervalMs, QObject* parent = nullptr);
    ~SetupWindowController() override;

    // Creates the window once, brings it to the front and starts the guide's checks.
    void show();

    // None until the first show().
    QWidget* window() const { return m_window.get(); }
    SetupGuide* guide() const { return m_guide.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createWindow();
    void mirrorPhone();

    AppState& m_state;
    const int m_pollIntervalMs;
    // Declared before the window, so the view goes first.
    std::unique_ptr<SetupGuide> m_guide;
    std::unique_ptr<QWidget> m_window;
};

} // namespace tessaly
