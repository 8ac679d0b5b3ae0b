#include <QApplication>
#include <QIcon>

#include "app/TessalyApp.h"
#include "app/WidgetPresenter.h"
#include "controller/AppState.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tessaly"));
    QApplication::setApplicationName(QStringLiteral("Tessaly"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tessaly"));
    QApplication::setDesktopFileName(QStringLiteral("tessaly"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tessaly")));

    using namespace tessaly;
    AppState::install(
        std::make_unique<AppState>(AppState::systemServices(std::make_shared<WidgetPresenter>())));
    TessalyApp::routeTerminationSignals();
    TessalyApp tessaly(AppState::shared());
    return app.exec();
}
