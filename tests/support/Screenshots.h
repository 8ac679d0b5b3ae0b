#pragma once

#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QPixmap>
#include <QWidget>

namespace tessaly::test {

// $TESSALY_SCREENSHOTS (CTest sets build/screenshots), else one under the temporary folder.
inline QString screenshotFolder()
{
    const QString folder = qEnvironmentVariableIsEmpty("TESSALY_SCREENSHOTS")
        ? QDir::tempPath() + QStringLiteral("/tessaly-screenshots")
        : qEnvironmentVariable("TESSALY_SCREENSHOTS");
    QDir().mkpath(folder);
    return folder;
}

// Saves a grab of `widget` as NAME.png there and returns its path (empty on failure). A hidden
// widget is shown for the grab, so that its layout has settled, and hidden again.
inline QString saveScreenshot(QWidget* widget, const QString& name)
{
    const bool wasHidden = !widget->isVisible();
    widget->show();
    if (QLayout* layout = widget->layout())
        layout->activate();
    QApplication::processEvents();
    const QPixmap pixmap = widget->grab();
    if (wasHidden)
        widget->hide();
    const QString path = screenshotFolder() + QLatin1Char('/') + name + QStringLiteral(".png");
    return !pixmap.isNull() && pixmap.save(path, "PNG") ? path : QString();
}

} // namespace tessaly::test
