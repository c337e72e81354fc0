#include "widgets/CircleButton.h"

#include <QIcon>
#include <QMouseEvent>
#include <QPainter>

CircleButton::CircleButton(QWidget* parent) : QPushButton(parent)
{
    setIcon(QIcon(QStringLiteral(":/AmbrelClient/Resources/BK1.png")));
}

void CircleButton::setPressedLook(bool pressed)
{
    setIcon(QIcon(pressed ? QStringLiteral(":/AmbrelClient/Resources/BK2.png")
                          : QStringLiteral(":/AmbrelClient/Resources/BK1.png")));
}

void CircleButton::mousePressEvent(QMouseEvent*) {}

void CircleButton::mouseMoveEvent(QMouseEvent*) {}

void CircleButton::mouseReleaseEvent(QMouseEvent* event)
{
    const int x = event->pos().x();
    const int y = event->pos().y();
    if (centerX - radius < x && x < centerX + radius && centerY - radius < y && y < centerY + radius)
        emit clicked();
}

void CircleButton::setRingProgress(double progress)
{
    const double p = qBound(0.0, progress, 1.0);
    if (qFuzzyCompare(p + 1, m_ringProgress + 1))
        return;
    m_ringProgress = p;
    update();
}

void CircleButton::paintEvent(QPaintEvent* event)
{
    QPushButton::paintEvent(event);
    if (m_ringProgress <= 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(253, 190, 56), 4, Qt::SolidLine, Qt::RoundCap));
    const int side = qMin(width(), height()) - 6;
    const QRectF ring((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    // Angles in sixteenths of a degree, counter-clockwise from three o'clock: start at twelve, go clockwise.
    painter.drawArc(ring, 90 * 16, -int(m_ringProgress * 360 * 16));
}
