#pragma once

#include <functional>
#include <string>
#include <vector>

#include "controller/Presenter.h"

namespace tessaly::test {

// A presenter that records what would have been shown and returns at once.
class RecordingPresenter : public Presenter {
public:
    struct Info {
        std::string title;
        std::string text;
        bool operator==(const Info&) const = default;
    };
    // Everything shown, in order: "error: TITLE", "details: TEXT", "info: TITLE".
    std::vector<std::string> log;
    std::vector<FriendlyError> errors;
    std::vector<std::string> details;
    std::vector<Info> infos;

    // Acts as if the user chose "Show Details" on every error that offers it.
    bool choosesShowDetails = false;
    // Runs while an alert would be up, to look at the state behind it.
    std::function<void()> whilePresenting;

    void presentError(const FriendlyError& error) override;
    void showDetails(const std::string& text) override;
    void showInfo(const std::string& title, const std::string& text) override;
};

} // namespace tessaly::test
