#include "app/QrCodeView.h"

#include <memory>
#include <utility>

#include <QPainter>

#include <qrencode.h>

namespace tessaly {

namespace {

// The light border scanners need around the code, in modules.
constexpr int kQuietZone = 4;

} // namespace

QrCodeView::QrCodeView(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void QrCodeView::setText(const std::string& text)
{
    m_dark.clear();
    m_width = 0;
    if (!text.empty()) {
        const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
            QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M), &QRcode_free);
        if (code) {
            m_width = code->width;
            m_dark.resize(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_width));
            // Bit 0 of each byte is the module's colour; the other bits describe its role.
            for (std::size_t i = 0; i < m_dark.size(); ++i)
                m_dark[i] = (code->data[i] & 1) != 0;
        }
    }
    update();
}

void QrCodeView::setSpent(bool spent)
{
    if (std::exchange(m_spent, spent) != spent)
        update();
}

QSize QrCodeView::sizeHint() const
{
    return { 232, 232 };
}

QSize QrCodeView::minimumSizeHint() const
{
    return { 160, 160 };
}

void QrCodeView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int side = std::min(width(), height());
    const int total = m_width + 2 * kQuietZone;
    // Whole pixels per module: fractional ones would blur the edges scanners look for.
    const int module = m_width > 0 ? side / total : 0;
    const int drawn = module * total;
    const QRect area((width() - drawn) / 2, (height() - drawn) / 2, drawn, drawn);
    painter.fillRect(area, Qt::white);
    const QColor ink = m_spent ? QColor(0xd8, 0xd8, 0xd8) : QColor(Qt::black);
    for (int y = 0; y < m_width; ++y)
        for (int x = 0; x < m_width; ++x)
            if (isDark(x, y))
                painter.fillRect(area.x() + (x + kQuietZone) * module, area.y() + (y + kQuietZone) * module,
                    module, module, ink);
    if (m_spent && m_width > 0) {
        QFont font = painter.font();
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * 1.3);
        painter.setFont(font);
        painter.setPen(QColor(0x55, 0x55, 0x55));
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("Scanned"));
    }
}

} // namespace tessaly
