#include <cstdio>

#include <QApplication>
#include <QIcon>

#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "app/TessalyApp.h"
#include "app/WidgetPresenter.h"
#include "controller/AppState.h"
#include "quickshare/NotificationPrompts.h"
#include "quickshare/QuickShareWindow.h"

int main(int argc, char** argv)
{
    using namespace tessaly;
    // Settled before QApplication exists: without a display it would abort with a core dump.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine::Outcome outcome = CommandLine::check(arguments,
        { qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"),
            qEnvironmentVariable("QT_QPA_PLATFORM") });
    if (outcome.exitStatus) {
        std::fputs(outcome.output.toLocal8Bit().constData(), stdout);
        if (!outcome.error.isEmpty())
            std::fprintf(stderr, "%s\n", outcome.error.toLocal8Bit().constData());
        return *outcome.exitStatus;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tessaly"));
    QApplication::setApplicationName(QStringLiteral("Tessaly"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tessaly"));
    QApplication::setApplicationVersion(QStringLiteral(TESSALY_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("io.github.tessaly.Tessaly"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tessaly")));

    // Before anything starts (Quick Share, adb): a second copy only hands over to the first.
    SingleInstance instance(QDBusConnection::sessionBus());
    const SingleInstance::Claim claim = instance.claim(qEnvironmentVariable("XDG_ACTIVATION_TOKEN"));
    if (claim == SingleInstance::Claim::Forwarded || claim == SingleInstance::Claim::NoAnswer) {
        std::fprintf(stderr, "%s\n", SingleInstance::outcomeLine(claim).toLocal8Bit().constData());
        return SingleInstance::exitStatus(claim);
    }

    AppState::Services services = AppState::systemServices(std::make_shared<WidgetPresenter>());
    // On Wayland no card can place itself or stay on top: the desktop's notifications ask there.
    SharePrompter* prompts = &QuickSharePrompts::shared();
    if (NotificationPrompts::suitsSession(
            qEnvironmentVariable("XDG_SESSION_TYPE"), QApplication::platformName()))
        prompts = &NotificationPrompts::shared();
    // The prompts outlive the controller (they are never destroyed), so the controller only borrows them.
    services.sharePrompter = std::shared_ptr<SharePrompter>(prompts, [](SharePrompter*) {});
    AppState::install(std::make_unique<AppState>(std::move(services)));
    TessalyApp::routeTerminationSignals();
    TessalyApp tessaly(AppState::shared());
    QObject::connect(&instance, &SingleInstance::activated, &tessaly, &TessalyApp::showWindow);
    return app.exec();
}
