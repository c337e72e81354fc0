#pragma once

#include <cstdint>

class QWindow;

// Hands a press on the title bar to the window system, which then moves the window with the mouse. Each system
// uses the handle it knows: the native window handle on Windows, the QWindow elsewhere.
namespace WindowMove {

// How far the mouse must travel with the button down before the move starts. 0: the move starts with the press,
// as a caption does on Windows. An X window manager takes a move started by a mere press as a click on the caption
// and may raise or shade the window instead, so there the move waits for the drag distance.
int startDistance();

// Lets go of the mouse grab of the current press so the window system can take it over.
bool releaseCapture();

// Starts the interactive move; false when the window system cannot move windows (for instance without a window
// manager): then the caller moves the window itself.
bool startSystemMove(QWindow* window, std::uintptr_t nativeHandle);

} // namespace WindowMove
