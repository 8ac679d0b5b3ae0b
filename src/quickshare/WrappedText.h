#pragma once

#include <QString>
#include <QWidget>

namespace tessaly {

// Plain text that wraps at word boundaries, and inside a word too long for a line (a long file
// or phone name must not widen the card). With a line limit, text that needs more lines loses
// its middle to "…", or the end of a part given to be shortened (a name inside a sentence).
// It never shows markup: what the phone sends is shown as it is.
class WrappedText : public QWidget {
    Q_OBJECT

public:
    explicit WrappedText(QWidget* parent = nullptr, int maxLines = 0);

    // `shortenFrom` and `shortenLength` mark the part to cut when the text needs too many lines.
    void setText(const QString& text, qsizetype shortenFrom = -1, qsizetype shortenLength = 0);
    const QString& text() const { return m_text; }
    // What fits at `width`: the text, or its elided form.
    QString shownText(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int linesNeeded(const QString& text, int width) const;

    QString elided(qsizetype keep) const;

    QString m_text;
    qsizetype m_shortenFrom = -1;
    qsizetype m_shortenLength = 0;
    const int m_maxLines;
};

} // namespace tessaly
