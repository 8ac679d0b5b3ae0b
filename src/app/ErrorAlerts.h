#pragma once

#include <memory>

#include <QString>

#include "controller/FriendlyError.h"

class QDialog;
class QMessageBox;

namespace tessaly {

// The dialogs that show errors and technical output. Each builder returns the dialog
// ready to run, so tests can look at it (and grab it) without running it modally.
namespace ErrorAlerts {

inline constexpr int kDetailsWidth = 560;
inline constexpr int kDetailsHeight = 260;
inline constexpr qreal kDetailsFontPointSize = 11;

// Object names of the parts that tests and the presenter look for.
inline constexpr const char* kShowDetailsButton = "showDetailsButton";
inline constexpr const char* kShowInFolderButton = "showInFolderButton";
inline constexpr const char* kDetailsText = "detailsText";
inline constexpr const char* kMessageLabel = "messageLabel";
inline constexpr const char* kInformativeLabel = "informativeLabel";

// A warning alert: message = title, informative text = advice, "OK", and "Show Details"
// only when the error has details.
std::unique_ptr<QMessageBox> buildErrorAlert(const FriendlyError& error);

// An informational alert with a single "OK".
std::unique_ptr<QMessageBox> buildInfoAlert(const QString& title, const QString& text);

// A file was saved: an informational alert with "Show in Folder" and "OK".
std::unique_ptr<QMessageBox> buildSavedAlert(const QString& title, const QString& text);

// The details window: a fixed 560 x 260 scrolling, read-only, selectable monospaced text
// with "(no output)" for an empty text, and one "Close" button. The text stays in memory.
std::unique_ptr<QDialog> buildDetailsWindow(const QString& text);

} // namespace ErrorAlerts
} // namespace tessaly
