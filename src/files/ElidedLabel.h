#pragma once

#include <QLabel>

namespace tessaly {

// One line of text that shortens itself with "…" to the width it gets, at the chosen end.
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_text; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode m_mode;
    QString m_text;
};

} // namespace tessaly
