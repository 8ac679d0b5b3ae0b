#include "support/Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QPixmap>
#include <QWidget>

namespace tessaly::test {

namespace {

QString safeFileName(const QString& name)
{
    QString safe;
    for (const QChar c : name) {
        const bool allowed = (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-')
            || c == QLatin1Char('_') || c == QLatin1Char('.');
        safe += allowed ? c : QLatin1Char('_');
    }
    if (safe.isEmpty() || safe.startsWith(QLatin1Char('.')))
        safe.prepend(QStringLiteral("screenshot"));
    if (!safe.endsWith(QLatin1String(".png")))
        safe += QStringLiteral(".png");
    return safe;
}

} // namespace

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
    if (!widget)
        return {};
    const bool wasHidden = !widget->isVisible();
    if (wasHidden)
        widget->show();
    if (QLayout* layout = widget->layout())
        layout->activate();
    QApplication::processEvents();
    const QPixmap pixmap = widget->grab();
    if (wasHidden)
        widget->hide();
    const QString path = screenshotFolder() + QLatin1Char('/') + safeFileName(name);
    return !pixmap.isNull() && pixmap.save(path, "PNG") ? path : QString();
}

} // namespace tessaly::test
