#pragma once

#include <QString>

class QWidget;

namespace tessaly::test {

// $TESSALY_SCREENSHOTS (CTest sets build/screenshots), else one under the temporary folder.
QString screenshotFolder();

// Saves a grab of `widget` as NAME.png there and returns its path (empty on failure). A hidden
// widget is shown for the grab, so that its layout has settled, and hidden again.
QString saveScreenshot(QWidget* widget, const QString& name);

} // namespace tessaly::test
