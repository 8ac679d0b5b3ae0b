#pragma once

#include <QString>

class QWidget;

namespace tessaly::test {

// The folder for screenshots: $TESSALY_SCREENSHOTS (CTest sets build/screenshots), else
// a folder under the system's temporary folder. Created when missing.
QString screenshotFolder();

// Saves a grab of `widget` as NAME.png in the screenshot folder and returns the file's
// path (empty on failure). A hidden widget is shown for the grab and hidden again, so
// its layout has settled.
QString saveScreenshot(QWidget* widget, const QString& name);

} // namespace tessaly::test
