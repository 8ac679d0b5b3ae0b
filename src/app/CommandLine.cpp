#include "app/CommandLine.h"

#include <QCommandLineParser>

namespace tessaly::CommandLine {

namespace {

// Platform plugins that draw into memory or straight onto the hardware: they need no display
// server, so starting without one is what their user meant.
bool needsNoDisplay(const QString& platforms)
{
    // Qt tries a list such as "wayland;xcb" in order, and a name may carry options ("vnc:size=800x600").
    const QString first = platforms.section(QLatin1Char(';'), 0, 0).section(QLatin1Char(':'), 0, 0).trimmed();
    static const QStringList serverless = { QStringLiteral("offscreen"), QStringLiteral("minimal"),
        QStringLiteral("minimalegl"), QStringLiteral("vnc"), QStringLiteral("linuxfb"),
        QStringLiteral("eglfs"), QStringLiteral("vkkhrdisplay") };
    return serverless.contains(first);
}

} // namespace

Outcome check(const QStringList& arguments, const DisplayEnvironment& environment)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Use your Android phone from this computer: mirror its screen, switch it between cable and "
        "wireless, copy files and receive Quick Share. Tessaly lives in the system tray."));
    // Qt's own "-platform NAME" and "-display NAME" are single-dash words.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption platform(
        QStringLiteral("platform"), QStringLiteral("Qt platform plugin."), QStringLiteral("name"));
    QCommandLineOption display(
        QStringLiteral("display"), QStringLiteral("X11 display."), QStringLiteral("name"));
    platform.setFlags(QCommandLineOption::HiddenFromHelp);
    display.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(platform);
    parser.addOption(display);

    if (!parser.parse(arguments))
        return { 1, {}, QStringLiteral("tessaly: ") + parser.errorText() + QStringLiteral(" (try --help)") };
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        // Parsed before the application object exists, so Qt does not know the program's name.
        return { 0, parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("tessaly")),
            {} };
    }
    if (parser.isSet(version))
        return { 0, QStringLiteral("tessaly ") + QStringLiteral(TESSALY_VERSION) + QLatin1Char('\n'), {} };

    const QString chosen = parser.isSet(platform) ? parser.value(platform) : environment.qpaPlatform;
    if (needsNoDisplay(chosen) || parser.isSet(display) || !environment.display.isEmpty()
        || !environment.waylandDisplay.isEmpty())
        return {};
    return { 1, {},
        QStringLiteral("tessaly: no graphical session here (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                       "start Tessaly from your desktop, or over SSH with \"ssh -X\".") };
}

} // namespace tessaly::CommandLine
