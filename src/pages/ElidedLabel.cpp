#include "pages/ElidedLabel.h"

#include <algorithm>

#include <QEvent>
#include <QFontMetrics>
#include <QLayout>

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(parent)
{
    setFullText(text);
}

void ElidedLabel::setFullText(const QString& text)
{
    m_fullText = text;
    QLabel::setText(text);
    updateGeometry();
    // Lay the bar out now, so the text is cut for the width it gets rather than the width the old text had.
    if (parentWidget() && parentWidget()->layout() && isVisible())
        parentWidget()->layout()->activate();
    elide();
}

// The label's own hints measure the shown (maybe shortened) text: the same hint with that text's width replaced.
QSize ElidedLabel::withTextWidth(const QSize& shownHint, int textWidth) const
{
    return {shownHint.width() - fontMetrics().horizontalAdvance(text()) + textWidth, shownHint.height()};
}

QSize ElidedLabel::sizeHint() const
{
    return withTextWidth(QLabel::sizeHint(), fontMetrics().horizontalAdvance(m_fullText));
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    return withTextWidth(QLabel::minimumSizeHint(), std::min(metrics.horizontalAdvance(m_fullText),
                                                             metrics.horizontalAdvance(QStringLiteral("…"))));
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    // A style sheet applied later changes the font: the cut must be made again.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        elide();
}

void ElidedLabel::elide()
{
    // Not laid out yet: nothing to measure against.
    if (!testAttribute(Qt::WA_Resized)) {
        if (text() != m_fullText)
            QLabel::setText(m_fullText);
        setToolTip(QString());
        return;
    }
    const int available = contentsRect().width() - 2 * margin();
    const QString shown = QFontMetrics(font()).elidedText(m_fullText, Qt::ElideRight, std::max(0, available));
    if (shown != text())
        QLabel::setText(shown);
    setToolTip(shown == m_fullText ? QString() : m_fullText);
}
