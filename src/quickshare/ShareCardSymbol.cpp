#include "quickshare/ShareCardSymbol.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>

namespace tessaly::ShareCardSymbol {

namespace {

using Symbol = ShareCardText::Symbol;

const char* themeName(Symbol symbol)
{
    switch (symbol) {
    case Symbol::file:
        return "document-save-symbolic";
    case Symbol::text:
        return "text-x-generic-symbolic";
    case Symbol::link:
        return "insert-link-symbolic";
    case Symbol::success:
        return "emblem-ok-symbolic";
    case Symbol::warning:
        return "dialog-warning-symbolic";
    case Symbol::stopped:
        break;
    }
    return "process-stop-symbolic";
}

QPixmap canvas(qreal ratio)
{
    QPixmap pixmap(QSize(kSize, kSize) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// Symbols are drawn on a 100 by 100 grid.
void drawFile(QPainter& painter, const QColor& tint)
{
    painter.setPen(QPen(tint, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolygon(
        QPolygonF({ QPointF(20, 6), QPointF(60, 6), QPointF(82, 28), QPointF(82, 94), QPointF(20, 94) }));
    painter.drawPolyline(QPolygonF({ QPointF(60, 6), QPointF(60, 28), QPointF(82, 28) }));
    painter.drawLine(QPointF(51, 40), QPointF(51, 76));
    painter.drawPolyline(QPolygonF({ QPointF(37, 63), QPointF(51, 77), QPointF(65, 63) }));
}

void drawText(QPainter& painter, const QColor& tint)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(tint);
    for (const qreal x : { 8.0, 54.0 }) {
        painter.drawEllipse(QPointF(x + 19, 40), 19, 19);
        QPainterPath tail;
        tail.moveTo(x + 38, 40);
        tail.cubicTo(x + 38, 64, x + 24, 80, x + 6, 88);
        tail.lineTo(x + 3, 80);
        tail.cubicTo(x + 14, 73, x + 19, 66, x + 19, 58);
        tail.closeSubpath();
        painter.drawPath(tail);
    }
}

void drawLink(QPainter& painter, const QColor& tint)
{
    painter.setPen(QPen(tint, 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.translate(50, 50);
    painter.rotate(-45);
    painter.drawRoundedRect(QRectF(-44, -14, 52, 28), 14, 14);
    painter.drawRoundedRect(QRectF(-8, -14, 52, 28), 14, 14);
}

void drawCircleMark(QPainter& painter, Symbol symbol, const QColor& tint)
{
    QPen white(Qt::white, 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (symbol == Symbol::success) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(tint);
        painter.drawEllipse(QRectF(4, 4, 92, 92));
        painter.setPen(white);
        painter.drawPolyline(QPolygonF({ QPointF(29, 52), QPointF(44, 67), QPointF(72, 36) }));
        return;
    }
    painter.setPen(QPen(tint, 7));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(6, 6, 88, 88));
    painter.setPen(QPen(tint, 8, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(34, 34), QPointF(66, 66));
    painter.drawLine(QPointF(66, 34), QPointF(34, 66));
}

void drawWarning(QPainter& painter, const QColor& tint)
{
    painter.setPen(QPen(tint, 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(tint);
    painter.drawPolygon(QPolygonF({ QPointF(50, 11), QPointF(92, 86), QPointF(8, 86) }));
    painter.setPen(QPen(Qt::white, 11, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(50, 38), QPointF(50, 60));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(50, 75), 6.5, 6.5);
}

QPixmap drawn(Symbol symbol, const QColor& tint, qreal devicePixelRatio)
{
    QPixmap pixmap = canvas(devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(kSize / 100.0, kSize / 100.0);
    switch (symbol) {
    case Symbol::file:
        drawFile(painter, tint);
        break;
    case Symbol::text:
        drawText(painter, tint);
        break;
    case Symbol::link:
        drawLink(painter, tint);
        break;
    case Symbol::warning:
        drawWarning(painter, tint);
        break;
    case Symbol::success:
    case Symbol::stopped:
        drawCircleMark(painter, symbol, tint);
        break;
    }
    return pixmap;
}

} // namespace

QPixmap pixmap(Symbol symbol, const QColor& tint, qreal devicePixelRatio)
{
    const QString name = QString::fromLatin1(themeName(symbol));
    if (!QIcon::hasThemeIcon(name))
        return drawn(symbol, tint, devicePixelRatio);
    // Symbolic icons are one-colour shapes: keep the shape, take the tint.
    QPixmap pixmap = QIcon::fromTheme(name).pixmap(QSize(kSize, kSize), devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(0, 0), pixmap.deviceIndependentSize()), tint);
    return pixmap;
}

} // namespace tessaly::ShareCardSymbol
