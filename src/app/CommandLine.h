#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace tessaly::CommandLine {

// The variables that decide whether a window system can be reached.
struct DisplayEnvironment {
    QString display; // DISPLAY
    QString waylandDisplay; // WAYLAND_DISPLAY
    QString qpaPlatform; // QT_QPA_PLATFORM
};

// What to do before any window system is touched: either go on, or print `output` (to
// standard output) or `error` (one line, to standard error) and exit with `exitStatus`.
struct Outcome {
    std::optional<int> exitStatus;
    QString output;
    QString error;
};

// `arguments` as the program got them, its name first.
Outcome check(const QStringList& arguments, const DisplayEnvironment& environment);

} // namespace tessaly::CommandLine
