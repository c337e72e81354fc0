#include "Glyphs.h"

#include <cmath>

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>
#include <QString>

namespace Glyphs {

namespace {

constexpr qreal kPi = 3.14159265358979323846;

QPainterPath polyline(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF& point : points) {
        if (first) {
            path.moveTo(point);
            first = false;
        } else {
            path.lineTo(point);
        }
    }
    return path;
}

QPainterPath circle(const QPointF& centre, qreal radius)
{
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

} // namespace

namespace {
int s_scale = 1;
} // namespace

void setScale(int scale)
{
    s_scale = scale;
}

QImage canvas(int width, int height, const QColor& fill)
{
    // A painter on an image with a device pixel ratio draws in logical pixels: every drawing, given in the 1x
    // layout, comes out at the scale's resolution.
    QImage image(width * s_scale, height * s_scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(s_scale);
    image.fill(fill);
    return image;
}

void prepare(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
}

QFont uiFont(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QPen roundPen(const QColor& color, qreal width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QLinearGradient accentGradient(const QRectF& rect)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0.0, kAccentDeep);
    gradient.setColorAt(1.0, kAccent);
    return gradient;
}

QPainterPath camera(const QRectF& rect)
{
    const qreal w = rect.width();
    const qreal h = rect.height();
    const QRectF bodyRect(rect.x(), rect.y() + 0.2 * h, w, 0.8 * h);
    QPainterPath body;
    body.addRoundedRect(bodyRect, 0.16 * bodyRect.height(), 0.16 * bodyRect.height());
    QPainterPath bump;
    bump.addRoundedRect(QRectF(rect.x() + 0.3 * w, rect.y(), 0.4 * w, 0.32 * h), 0.1 * w, 0.1 * w);
    const QPointF lens(bodyRect.center().x(), bodyRect.center().y() + 0.02 * h);
    const qreal outer = 0.3 * bodyRect.height();
    QPainterPath shape = body.united(bump);
    shape = shape.subtracted(circle(lens, outer));
    shape = shape.united(circle(lens, 0.56 * outer));
    shape = shape.subtracted(circle(QPointF(rect.x() + 0.84 * w, bodyRect.y() + 0.2 * bodyRect.height()), 0.05 * w));
    return shape;
}

QPainterPath chevron(const QRectF& rect, bool pointsLeft)
{
    if (pointsLeft) {
        return polyline({rect.topRight(), QPointF(rect.left(), rect.center().y()), rect.bottomRight()});
    }
    return polyline({rect.topLeft(), QPointF(rect.right(), rect.center().y()), rect.bottomLeft()});
}

QPainterPath tick(const QRectF& rect)
{
    return polyline({QPointF(rect.left(), rect.top() + 0.55 * rect.height()),
                     QPointF(rect.left() + 0.38 * rect.width(), rect.bottom()), rect.topRight()});
}

QPainterPath corners(const QRectF& rect, qreal arm, bool inward)
{
    const qreal l = rect.left();
    const qreal t = rect.top();
    const qreal r = rect.right();
    const qreal b = rect.bottom();
    QPainterPath path;
    if (inward) {
        path.addPath(polyline({{l + arm, t}, {l + arm, t + arm}, {l, t + arm}}));
        path.addPath(polyline({{r - arm, t}, {r - arm, t + arm}, {r, t + arm}}));
        path.addPath(polyline({{l + arm, b}, {l + arm, b - arm}, {l, b - arm}}));
        path.addPath(polyline({{r - arm, b}, {r - arm, b - arm}, {r, b - arm}}));
    } else {
        path.addPath(polyline({{l, t + arm}, {l, t}, {l + arm, t}}));
        path.addPath(polyline({{r - arm, t}, {r, t}, {r, t + arm}}));
        path.addPath(polyline({{l, b - arm}, {l, b}, {l + arm, b}}));
        path.addPath(polyline({{r - arm, b}, {r, b}, {r, b - arm}}));
    }
    return path;
}

QPainterPath upload(const QRectF& rect)
{
    const qreal w = rect.width();
    const qreal h = rect.height();
    const qreal cx = rect.center().x();
    QPainterPath path = polyline({{cx, rect.top() + 0.64 * h}, {cx, rect.top()}});
    path.addPath(
        polyline({{cx - 0.26 * w, rect.top() + 0.26 * w}, {cx, rect.top()}, {cx + 0.26 * w, rect.top() + 0.26 * w}}));
    path.addPath(polyline({{rect.left(), rect.top() + 0.58 * h},
                           {rect.left(), rect.bottom()},
                           {rect.right(), rect.bottom()},
                           {rect.right(), rect.top() + 0.58 * h}}));
    return path;
}

QPainterPath magnifier(const QRectF& rect, bool plus)
{
    const qreal size = std::min(rect.width(), rect.height());
    const qreal radius = 0.36 * size;
    const QPointF centre(rect.left() + 0.42 * size, rect.top() + 0.42 * size);
    QPainterPath path = circle(centre, radius);
    const qreal d = radius / std::sqrt(2.0);
    path.addPath(polyline({{centre.x() + d, centre.y() + d}, {rect.left() + 0.94 * size, rect.top() + 0.94 * size}}));
    const qreal bar = 0.48 * radius;
    path.addPath(polyline({{centre.x() - bar, centre.y()}, {centre.x() + bar, centre.y()}}));
    if (plus) {
        path.addPath(polyline({{centre.x(), centre.y() - bar}, {centre.x(), centre.y() + bar}}));
    }
    return path;
}

void circularArrow(QPainter& painter, const QPointF& centre, qreal radius, qreal startDegrees, qreal spanDegrees,
                   const QColor& color, qreal width)
{
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    // Stop the line a little short so that its cap hides under the arrow head.
    const qreal headLength = 2.6 * width;
    const qreal shorten = (headLength * 0.5 / radius) * 180.0 / kPi * (spanDegrees > 0 ? 1 : -1);
    QPainterPath arc;
    arc.arcMoveTo(box, startDegrees);
    arc.arcTo(box, startDegrees, spanDegrees - shorten);
    painter.save();
    painter.setPen(roundPen(color, width));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(arc);

    const qreal end = (startDegrees + spanDegrees) * kPi / 180.0;
    const QPointF tip(centre.x() + radius * std::cos(end), centre.y() - radius * std::sin(end));
    // Direction of travel along the arc at its end (Qt's angles run counter-clockwise with y pointing down).
    QPointF direction(-std::sin(end), -std::cos(end));
    if (spanDegrees < 0) {
        direction = -direction;
    }
    const QPointF normal(-direction.y(), direction.x());
    const qreal halfWidth = 1.45 * width;
    const QPointF base = tip - direction * headLength;
    QPolygonF head;
    head << tip + direction * 0.15 * width << base + normal * halfWidth << base - normal * halfWidth;
    painter.setPen(QPen(color, 0.6 * width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(color);
    painter.drawPolygon(head);
    painter.restore();
}

void exclamationBadge(QPainter& painter, const QRectF& rect, const QColor& fill, const QColor& mark, bool info)
{
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(rect);
    const qreal w = rect.width();
    const qreal h = rect.height();
    const qreal cx = rect.center().x();
    const qreal barWidth = 0.13 * w;
    QRectF bar;
    QPointF dot;
    if (info) {
        dot = QPointF(cx, rect.top() + 0.29 * h);
        bar = QRectF(cx - barWidth / 2, rect.top() + 0.43 * h, barWidth, 0.34 * h);
    } else {
        bar = QRectF(cx - barWidth / 2, rect.top() + 0.22 * h, barWidth, 0.37 * h);
        dot = QPointF(cx, rect.top() + 0.73 * h);
    }
    painter.setBrush(mark);
    painter.drawRoundedRect(bar, barWidth / 2, barWidth / 2);
    painter.drawEllipse(dot, 0.075 * w, 0.075 * w);
    painter.restore();
}

void emblem(QPainter& painter, const QRectF& rect, bool darkTile)
{
    const qreal s = std::min(rect.width(), rect.height());
    const QRectF tile(rect.center().x() - s / 2, rect.center().y() - s / 2, s, s);
    const qreal x = tile.x();
    const qreal y = tile.y();
    auto at = [&](qreal fx, qreal fy) { return QPointF(x + fx * s, y + fy * s); };

    painter.save();
    painter.setPen(Qt::NoPen);
    if (darkTile) {
        painter.setBrush(kBar);
    } else {
        painter.setBrush(accentGradient(tile));
    }
    painter.drawRoundedRect(tile, 0.22 * s, 0.22 * s);

    QPainterPath peaks;
    peaks.addPolygon(QPolygonF({at(0.13, 0.76), at(0.43, 0.26), at(0.62, 0.57), at(0.7, 0.46), at(0.87, 0.76)}));
    peaks.closeSubpath();
    // A band of mist cut through the peaks: the "岚" of the product name, and the bar of an "A".
    QPainterPath mist;
    mist.addRoundedRect(QRectF(at(0.08, 0.56), at(0.6, 0.635)), 0.035 * s, 0.035 * s);
    const QColor ink = darkTile ? kAccent : kPage;
    painter.setPen(QPen(ink, 0.05 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (darkTile) {
        painter.setBrush(accentGradient(tile));
    } else {
        painter.setBrush(ink);
    }
    painter.drawPath(peaks);
    painter.setPen(Qt::NoPen);
    painter.setBrush(darkTile ? kBar : QBrush(accentGradient(tile)));
    painter.drawPath(mist);
    painter.restore();
}

void glyphAndText(QPainter& painter, const QRectF& rect, const QPainterPath& glyph, bool glyphIsStroke,
                  qreal glyphPenWidth, const QString& text, const QFont& font, const QColor& color, qreal gap)
{
    const QFontMetricsF metrics(font);
    const qreal textWidth = metrics.horizontalAdvance(text);
    const QRectF bounds = glyph.boundingRect();
    const qreal total = bounds.width() + gap + textWidth;
    const qreal left = rect.center().x() - total / 2;

    painter.save();
    painter.translate(left - bounds.left(), rect.center().y() - bounds.height() / 2 - bounds.top());
    if (glyphIsStroke) {
        painter.setPen(roundPen(color, glyphPenWidth));
        painter.setBrush(Qt::NoBrush);
    } else {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
    }
    painter.drawPath(glyph);
    painter.restore();

    painter.save();
    painter.setFont(font);
    painter.setPen(color);
    // Centre on the glyph box of the text rather than the line box: the Chinese characters then sit level with
    // the icon.
    const QRectF ink = metrics.tightBoundingRect(text);
    const qreal baseline = rect.center().y() - ink.center().y();
    painter.drawText(QPointF(left + bounds.width() + gap, baseline), text);
    painter.restore();
}

} // namespace Glyphs
