#include "quickshare/WrappedText.h"

#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace tessaly {

namespace {

QTextOption wrapping()
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setUseDesignMetrics(true);
    return option;
}

// Lays out each paragraph of `text` at `width`; with a painter, draws the lines from the top.
// Gives the number of lines.
int layOut(const QString& text, const QFont& font, int width, qreal lineSpacing, QPainter* painter = nullptr)
{
    int lines = 0;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font);
        layout.setTextOption(wrapping());
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            line.setPosition(QPointF(0, lines * lineSpacing));
            ++lines;
        }
        layout.endLayout();
        if (painter)
            layout.draw(painter, QPointF(0, 0));
    }
    return lines;
}

// The first `keep` characters split between the start and the end, "…" between them; never
// splitting a character that takes two code units.
QString elideMiddle(const QString& text, qsizetype keep)
{
    qsizetype head = (keep + 1) / 2;
    qsizetype tail = text.size() - (keep - head);
    if (head > 0 && text.at(head - 1).isHighSurrogate())
        --head;
    if (tail < text.size() && text.at(tail).isLowSurrogate())
        ++tail;
    return text.left(head) + QStringLiteral("…") + text.mid(tail);
}

} // namespace

WrappedText::WrappedText(QWidget* parent, int maxLines)
    : QWidget(parent)
    , m_maxLines(maxLines)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappedText::setText(const QString& text, qsizetype shortenFrom, qsizetype shortenLength)
{
    const bool shortenable
        = shortenFrom >= 0 && shortenLength > 0 && shortenFrom + shortenLength <= text.size();
    if (!shortenable)
        shortenFrom = -1;
    if (text == m_text && shortenFrom == m_shortenFrom && shortenLength == m_shortenLength)
        return;
    m_text = text;
    m_shortenFrom = shortenFrom;
    m_shortenLength = shortenable ? shortenLength : 0;
    setAccessibleName(text);
    updateGeometry();
    update();
}

int WrappedText::linesNeeded(const QString& text, int width) const
{
    return layOut(text, font(), width, fontMetrics().lineSpacing());
}

QString WrappedText::shownText(int width) const
{
    if (m_maxLines <= 0 || linesNeeded(m_text, width) <= m_maxLines)
        return m_text;
    // The longest elided form that still fits.
    qsizetype low = 0;
    qsizetype high = (m_shortenFrom >= 0 ? m_shortenLength : m_text.size()) - 1;
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (linesNeeded(elided(middle), width) <= m_maxLines)
            low = middle;
        else
            high = middle - 1;
    }
    return elided(low);
}

// The text with `keep` characters of the part to shorten (or of the whole) and "…".
QString WrappedText::elided(qsizetype keep) const
{
    if (m_shortenFrom < 0)
        return elideMiddle(m_text, keep);
    if (keep > 0 && m_text.at(m_shortenFrom + keep - 1).isHighSurrogate())
        --keep;
    return m_text.left(m_shortenFrom + keep) + QStringLiteral("…")
        + m_text.mid(m_shortenFrom + m_shortenLength);
}

int WrappedText::heightForWidth(int width) const
{
    if (m_text.isEmpty())
        return 0;
    const int lines = linesNeeded(shownText(width), width);
    return lines * fontMetrics().lineSpacing();
}

QSize WrappedText::sizeHint() const
{
    const int width = std::max(fontMetrics().horizontalAdvance(m_text), 1);
    return { width, heightForWidth(width) };
}

QSize WrappedText::minimumSizeHint() const
{
    return { fontMetrics().averageCharWidth() * 4, fontMetrics().lineSpacing() };
}

void WrappedText::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    layOut(shownText(width()), font(), width(), fontMetrics().lineSpacing(), &painter);
}

} // namespace tessaly
