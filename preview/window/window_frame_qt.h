// The toolkit side of frame placement: reading the frame the window manager drew around a
// top-level window, and moving or sizing a window by that outer frame.
#pragma once

#include "app/core/window_frame.h"

class QWidget;

namespace preview {

// Waits, for at most `limitMs` and with user input held back, until the window system has
// mapped a shown top-level window. A reparenting window manager frames the window before it
// maps it, so from then on the frame extents are known.
void waitUntilFramed(QWidget* window, int limitMs = 1000);

// The frame extents of a top-level window; zero before it is framed or without a window
// manager.
app::FrameExtents frameExtents(const QWidget* window);

// The outer frame's position and size.
app::WindowRect outerGeometry(const QWidget* window);

// Moves the window so that its outer frame starts at `outer`.
void moveFrame(QWidget* window, app::WindowPoint outer);

// Sizes the window so that its outer frame is `outer`; the client area takes what remains.
void resizeFrame(QWidget* window, app::WindowSize outer);

} // namespace preview
