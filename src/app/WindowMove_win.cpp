#include "app/WindowMove.h"

#include <windows.h>

namespace {

// SC_MOVE combined with the caption hit-test code: a move that follows the mouse as a caption drag does.
constexpr WPARAM kMoveByCaption = 0xF012;

} // namespace

int WindowMove::startDistance()
{
    return 0;
}

bool WindowMove::releaseCapture()
{
    return ReleaseCapture() != FALSE;
}

bool WindowMove::startSystemMove(QWindow*, std::uintptr_t nativeHandle)
{
    HWND window = reinterpret_cast<HWND>(nativeHandle);
    if (!window)
        return false;
    // Runs the system's modal move loop until the button is released.
    SendMessageW(window, WM_SYSCOMMAND, kMoveByCaption, 0);
    return true;
}
