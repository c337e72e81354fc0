#include "widgets/NumLabel.h"

#include <algorithm>

#include <QPainter>

namespace {

constexpr int kWidth = 36;
// The rounded corner takes the left 7 pixels, and 4 stay free on the right.
constexpr int kTextLeft = 7;
constexpr int kTextInset = 11;

} // namespace

NumLabel::NumLabel(const QString& text, QWidget* parent) : QLabel(parent), text(text)
{
    setStyleSheet(QStringLiteral(
        "background:rgba(0,0,0,1);border-radius:2px 2px 2px 6px;opacity:0.46409999999999996;height:18px;width:36px;"
        "font-size:12px;font-family:Microsoft YaHei;font-weight:400;color:rgba(255,255,255,1);line-height:17px;"
        "border-radius:2px 2px 2px 6px;background:rgba(0,0,0,118);"));
    // The paint handler below draws the text only: let the style paint the badge behind it.
    setAttribute(Qt::WA_StyledBackground, true);
    resize(kWidth, 18);
}

int NumLabel::fittingWidth() const
{
    // The font comes from the style sheet.
    ensurePolished();
    return std::max(kWidth, fontMetrics().horizontalAdvance(text) + kTextInset);
}

void NumLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(Qt::white);
    // A wider badge widens the text area with it.
    painter.drawText(QRect(kTextLeft, 0, width() - kTextInset, 17), Qt::AlignHCenter | Qt::AlignVCenter, text);
}
