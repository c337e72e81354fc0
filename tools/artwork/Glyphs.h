#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QRectF>

class QPainter;
class QString;

// Vector shapes shared by the client's icons. Every shape is given the rectangle it fills, so one drawing serves
// every pixel size.
namespace Glyphs {

// The client's dark theme.
inline const QColor kPage{10, 13, 23};
inline const QColor kBar{25, 28, 37};
inline const QColor kBarEdge{37, 40, 49};
inline const QColor kAccent{253, 190, 56};
inline const QColor kAccentDeep{253, 167, 56};
inline const QColor kOutline{253, 174, 56};
inline const QColor kRed{255, 82, 82};
inline const QColor kLight{221, 221, 221};
inline const QColor kInk{51, 51, 51};
inline const QColor kWarn{229, 143, 33};

// Device pixels per logical pixel of every canvas made from now on: 2 draws the "@2x" variants.
void setScale(int scale);
// A transparent (or filled) image ready to paint on, width x height logical pixels.
QImage canvas(int width, int height, const QColor& fill = Qt::transparent);
// Antialiased painting with smooth pixmap scaling.
void prepare(QPainter& painter);

QFont uiFont(int pixelSize, bool bold = false);
QPen roundPen(const QColor& color, qreal width);

// Accent gradient of the filled buttons: lighter at the bottom, deeper at the top.
QLinearGradient accentGradient(const QRectF& rect);

// A camera body with its lens cut out (filled shape).
QPainterPath camera(const QRectF& rect);
// An open chevron, pointing left or right (stroked shape).
QPainterPath chevron(const QRectF& rect, bool pointsLeft);
// A tick (stroked shape).
QPainterPath tick(const QRectF& rect);
// Four corner brackets: outward for "enlarge", inward for "shrink back" (stroked shape).
QPainterPath corners(const QRectF& rect, qreal arm, bool inward);
// An arrow up out of an open tray (stroked shape).
QPainterPath upload(const QRectF& rect);
// A circle, a horizontal bar and optionally a vertical one: zoom in / zoom out (stroked shape, handle included).
QPainterPath magnifier(const QRectF& rect, bool plus);

// A circular arc of spanDegrees (counter-clockwise when positive) ending in a filled arrow head.
void circularArrow(QPainter& painter, const QPointF& centre, qreal radius, qreal startDegrees, qreal spanDegrees,
                   const QColor& color, qreal width);
// A filled round badge carrying "!" (or "i" when info is true).
void exclamationBadge(QPainter& painter, const QRectF& rect, const QColor& fill, const QColor& mark, bool info);
// The product mark: two peaks cut by a band of mist, on a rounded tile. darkTile swaps the colours.
void emblem(QPainter& painter, const QRectF& rect, bool darkTile);

// Draws the glyph shape (already sized) followed by the text, both centred together in rect.
void glyphAndText(QPainter& painter, const QRectF& rect, const QPainterPath& glyph, bool glyphIsStroke,
                  qreal glyphPenWidth, const QString& text, const QFont& font, const QColor& color, qreal gap);

} // namespace Glyphs
