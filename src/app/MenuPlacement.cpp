#include "app/MenuPlacement.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

namespace tessaly::MenuPlacement {

QPoint position(const std::optional<QRect>& panel, QPoint cursor, QSize menu, QRect screen)
{
    if (!panel)
        return cursor;
    const auto fit = [](int wanted, int low, int length, int high) {
        return std::max(low, std::min(wanted, high - length + 1));
    };
    const QPoint middle = panel->center();
    if (panel->width() >= panel->height()) {
        const int y = middle.y() < screen.center().y() ? panel->bottom() + 1 : panel->top() - menu.height();
        return { fit(cursor.x(), screen.left(), menu.width(), screen.right()), y };
    }
    const int x = middle.x() < screen.center().x() ? panel->right() + 1 : panel->left() - menu.width();
    return { x, fit(cursor.y(), screen.top(), menu.height(), screen.bottom()) };
}

std::optional<QRect> panelUnderPointer()
{
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return std::nullopt;
    const auto free = [](void* reply) { std::free(reply); };
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const std::unique_ptr<xcb_query_pointer_reply_t, decltype(free)> pointer(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr), free);
    if (!pointer || pointer->child == XCB_WINDOW_NONE)
        return std::nullopt;
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(free)> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, pointer->child), nullptr), free);
    if (!geometry)
        return std::nullopt;
    // The server counts device pixels; Qt's coordinates are scaled by the screen's ratio.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    const QRect window(QPoint(qRound(geometry->x / ratio), qRound(geometry->y / ratio)),
        QSize(qRound(geometry->width / ratio), qRound(geometry->height / ratio)));
    const QRect area = screen ? screen->geometry() : window;
    if (window.width() > area.width() / 2 && window.height() > area.height() / 2)
        return std::nullopt;
    return window;
}

} // namespace tessaly::MenuPlacement
