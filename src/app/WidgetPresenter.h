#pragma once

#include "controller/Presenter.h"

namespace tessaly {

// Shows errors, details and confirmations as application-modal Qt dialogs; each call
// returns when the user has closed its dialog.
class WidgetPresenter : public Presenter {
public:
    void presentError(const FriendlyError& error) override;
    void showDetails(const std::string& text) override;
    void showInfo(const std::string& title, const std::string& text) override;
    void showSaved(const std::string& title, const std::string& text, const std::string& path) override;
};

} // namespace tessaly
