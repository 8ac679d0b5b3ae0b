#pragma once

#include <string>
#include <vector>

#include <QWidget>

namespace tessaly {

// Draws a text as a QR code, module by module on whole pixels, so it stays sharp at any size.
class QrCodeView : public QWidget {
    Q_OBJECT

public:
    explicit QrCodeView(QWidget* parent = nullptr);

    // Encodes `text`; an empty text (or one too long to encode) draws nothing.
    void setText(const std::string& text);
    // A code the phone has used: drawn faint, under the word "Scanned", so nobody scans it again.
    void setSpent(bool spent);
    // Modules per side, the quiet zone excluded; 0 when nothing is encoded.
    int moduleCount() const { return m_width; }
    bool isDark(int x, int y) const { return m_dark[static_cast<std::size_t>(y * m_width + x)]; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<bool> m_dark;
    int m_width = 0;
    bool m_spent = false;
};

} // namespace tessaly
