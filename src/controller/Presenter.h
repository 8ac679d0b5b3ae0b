#pragma once

#include <string>

#include "controller/FriendlyError.h"

namespace tessaly {

// How the controller shows things to the user. The application's presenter runs modal
// dialogs that return when the user closes them; tests hand in one that records instead.
class Presenter {
public:
    virtual ~Presenter() = default;

    // A warning alert with "OK", and "Show Details" when the error has details.
    virtual void presentError(const FriendlyError& error) = 0;
    // The details window with technical output ("(no output)" when empty).
    virtual void showDetails(const std::string& text) = 0;
    // An informational alert with a single "OK" (the wireless operations' success alerts).
    virtual void showInfo(const std::string& title, const std::string& text) = 0;
    // A file was saved: the title, a line about it and "Show in Folder", which shows `path`.
    virtual void showSaved(const std::string& title, const std::string& text, const std::string& path) = 0;
};

} // namespace tessaly
