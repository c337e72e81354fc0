#include "widgets/CircleButton.h"

#include <QIcon>
#include <QMouseEvent>

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
