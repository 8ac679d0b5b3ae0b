#include "support/Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QPixmap>
#include <QWidget>

namespace tessaly::test {

QString screenshotFolder()
{
    QString folder = qEnvironmentVariable("TESSALY_SCREENSHOTS");
    if (folder.isEmpty())
        folder = QDir::tempPath() + QStringLiteral("/tessaly-screenshots");
    QDir().mkpath(folder);
    return folder;
}

QString saveScreenshot(QWidget* widget, const QString& name)
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
