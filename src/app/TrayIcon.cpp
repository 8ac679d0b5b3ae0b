#include "app/TrayIcon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFont>
#include <QPainter>
#include <QSvgRenderer>

namespace tessaly::TrayIcon {

namespace {

// A light body inside a dark outline and a mid-blue screen: one of the two always stands
// out, whatever the panel's colour. The waves are mid-blue for the same reason.
QByteArray phoneSymbol(bool mirroring)
{
    // The phone is narrower while mirroring, to leave room for the waves.
    QByteArray svg = "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 32 32'>";
    svg += mirroring ? "<rect x='10' y='1.5' width='12' height='29' rx='3' "
                     : "<rect x='8.5' y='1.5' width='15' height='29' rx='3' ";
    svg += "fill='#f4f6fa' stroke='#161b22' stroke-width='2'/>";
    svg += mirroring ? "<rect x='12.5' y='5' width='7' height='19' rx='1' fill='#3b82f6'/>"
                     : "<rect x='11' y='5' width='10' height='19' rx='1' fill='#3b82f6'/>";
    svg += "<path d='M 14.5 27 H 17.5' stroke='#161b22' stroke-width='1.8' stroke-linecap='round'/>";
    if (mirroring) {
        svg += "<path d='M 6.5 11 Q 3.8 16 6.5 21 M 25.5 11 Q 28.2 16 25.5 21 M 3 8 Q -1 16 3 24 "
               "M 29 8 Q 33 16 29 24' fill='none' stroke='#3b82f6' stroke-width='2.4' "
               "stroke-linecap='round'/>";
    }
    return svg + "</svg>";
}

// A badge across the lower part, its number as large as still fits the icon's width.
void drawNumber(QPainter& painter, int number, int size)
{
    const QString text = QString::number(number);
    QFont font = painter.font();
    font.setBold(true);
    int pixels = std::max(9, size * 3 / 5);
    font.setPixelSize(pixels);
    while (pixels > 7 && QFontMetrics(font).horizontalAdvance(text) > size - 2)
        font.setPixelSize(--pixels);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int width = std::min(size, metrics.horizontalAdvance(text) + 3);
    const int height = std::min(size, metrics.capHeight() + 4);
    const QRect badge(size - width, size - height, width, height);
    painter.setPen(QPen(QColor(0x16, 0x1b, 0x22), 1));
    painter.setBrush(QColor(0x1f, 0x5f, 0xd0));
    painter.drawRoundedRect(QRectF(badge).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, text);
}

} // namespace

QPixmap pixmap(bool mirroring, std::optional<int> fps, int size)
{
    QPixmap result(size, size);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    QSvgRenderer symbol(phoneSymbol(mirroring));
    symbol.render(&painter, QRectF(0, 0, size, size));
    if (fps)
        drawNumber(painter, *fps, size);
    return result;
}

std::optional<int> shownNumber(bool showFPS, bool mirroring, const std::optional<FPSReading>& reading)
{
    if (showFPS && mirroring && reading)
        return reading->fps;
    return std::nullopt;
}

QIcon icon(bool mirroring, std::optional<int> fps, bool panelDrawsIcon)
{
    // Both states from the theme or neither, so the symbol keeps one style; the frame rate
    // exists only on the drawing.
    const QString phone = QStringLiteral("phone-symbolic");
    const QString sharing = QStringLiteral("screen-shared-symbolic");
    if (panelDrawsIcon && !fps && QIcon::hasThemeIcon(phone) && QIcon::hasThemeIcon(sharing))
        return QIcon::fromTheme(mirroring ? sharing : phone);
    QIcon result;
    for (const int size : { 16, 22, 24, 32, 48, 64 })
        result.addPixmap(pixmap(mirroring, fps, size));
    return result;
}

bool statusNotifierHostPresent()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()
        && bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

} // namespace tessaly::TrayIcon
