#include "app/WindowMove.h"

#include <QApplication>
#include <QWindow>

int WindowMove::startDistance()
{
    return QApplication::startDragDistance();
}

bool WindowMove::releaseCapture()
{
    // The window system ends Qt's implicit grab itself when it starts the move.
    return true;
}

bool WindowMove::startSystemMove(QWindow* window, std::uintptr_t)
{
    return window && window->startSystemMove();
}
