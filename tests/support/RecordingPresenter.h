#pragma once

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
    std::vector<FriendlyError> errors;
    std::vector<std::string> details;
    std::vector<Info> infos;
    // showSaved: title, text and the saved file.
    std::vector<std::vector<std::string>> saved;

    void presentError(const FriendlyError& error) override { errors.push_back(error); }
    void showDetails(const std::string& text) override { details.push_back(text); }
    void showInfo(const std::string& title, const std::string& text) override
    {
        infos.push_back({ title, text });
    }
    void showSaved(const std::string& title, const std::string& text, const std::string& path) override
    {
        saved.push_back({ title, text, path });
    }
};

} // namespace tessaly::test
