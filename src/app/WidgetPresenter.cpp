#include "app/WidgetPresenter.h"

#include <QAbstractButton>
#include <QDialog>
#include <QMessageBox>

#include "app/ErrorAlerts.h"
#include "platform/XdgDesktopLauncher.h"

namespace tessaly {

namespace {

// A tray application has no window of its own in front: bring the dialog forward
// before it runs, as the alert would bring the application to the front.
int runInFront(QDialog& dialog)
{
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    return dialog.exec();
}

} // namespace

void WidgetPresenter::presentError(const FriendlyError& error)
{
    const auto box = ErrorAlerts::buildErrorAlert(error);
    runInFront(*box);
    const QAbstractButton* chosen = box->clickedButton();
    if (chosen && chosen->objectName() == QLatin1String(ErrorAlerts::kShowDetailsButton))
        showDetails(error.details);
}

void WidgetPresenter::showDetails(const std::string& text)
{
    const auto dialog = ErrorAlerts::buildDetailsWindow(QString::fromStdString(text));
    runInFront(*dialog);
}

void WidgetPresenter::showInfo(const std::string& title, const std::string& text)
{
    const auto box = ErrorAlerts::buildInfoAlert(QString::fromStdString(title), QString::fromStdString(text));
    runInFront(*box);
}

void WidgetPresenter::showSaved(const std::string& title, const std::string& text, const std::string& path)
{
    const auto box
        = ErrorAlerts::buildSavedAlert(QString::fromStdString(title), QString::fromStdString(text));
    runInFront(*box);
    const QAbstractButton* chosen = box->clickedButton();
    if (chosen && chosen->objectName() == QLatin1String(ErrorAlerts::kShowInFolderButton))
        XdgDesktopLauncher().showInFolder({ path });
}

} // namespace tessaly
