#include "app/TrayIcon.h"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

namespace tessaly::TrayIcon {

namespace {

// Drawn in the panel's text colour, so the symbol reads on light and dark panels alike.
QByteArray phoneSymbol(bool mirroring, const QColor& color)
{
    const QByteArray stroke = "fill='none' stroke='" + color.name().toLatin1() + "' stroke-linecap='round'";
    QByteArray svg = "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 32 32'>"
                     "<rect x='10' y='3' width='12' height='26' rx='2.5' stroke-width='2' "
        + stroke + "/><path d='M 14.5 25.5 H 17.5' stroke-width='1.6' " + stroke + "/>";
    if (mirroring) {
        svg += "<path d='M 7 12 Q 4.5 16 7 20 M 4 9 Q 0 16 4 23 M 25 12 Q 27.5 16 25 20 M 28 9 Q 32 16 28 "
               "23' "
               "stroke-width='1.8' "
            + stroke + "/>";
    }
    return svg + "</svg>";
}

QColor inkColor()
{
    return QGuiApplication::palette().color(QPalette::WindowText);
}

} // namespace

QPixmap pixmap(bool mirroring, std::optional<int> fps, int size)
{
    QPixmap result(size, size);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    QSvgRenderer symbol(phoneSymbol(mirroring, inkColor()));
    symbol.render(&painter, QRectF(0, 0, size, size));

    if (fps) {
        // A badge in the lower right, like a counter on an application icon.
        const QString number = QString::number(*fps);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(std::max(8, size * 9 / 22));
        painter.setFont(font);
        const QFontMetrics metrics(font);
        const int width = std::min(size, metrics.horizontalAdvance(number) + size / 8);
        const int height = metrics.height();
        const QRect badge(size - width, size - height, width, height);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x1f, 0x6f, 0xeb));
        painter.drawRoundedRect(badge, height / 3.0, height / 3.0);
        painter.setPen(Qt::white);
        painter.drawText(badge, Qt::AlignCenter, number);
    }
    return result;
}

std::optional<int> shownNumber(bool showFPS, bool mirroring, const std::optional<FPSReading>& reading)
{
    if (showFPS && mirroring && reading)
        return reading->fps;
    return std::nullopt;
}

QIcon icon(bool mirroring, std::optional<int> fps)
{
    QIcon result;
    for (const int size : { 16, 22, 24, 32, 48, 64 })
        result.addPixmap(pixmap(mirroring, fps, size));
    return result;
}

} // namespace tessaly::TrayIcon
