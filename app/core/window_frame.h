// Window placement by the outer frame. Every window position and size the program works
// with is that of the outer frame, caption and border included; the toolkit positions and
// sizes the client area. These functions translate between the two, given the frame
// extents the window manager reports (all zero when there is no window manager).
#pragma once

namespace app {

struct FrameExtents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
    bool operator==(const FrameExtents&) const = default;
};

struct WindowPoint {
    int x = 0;
    int y = 0;
    bool operator==(const WindowPoint&) const = default;
};

struct WindowSize {
    int width = 0;
    int height = 0;
    bool operator==(const WindowSize&) const = default;
};

struct WindowRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const WindowRect&) const = default;
};

// Twips and pixels at a display scale (1.0 at 96 dpi, 15 twips a pixel).
int twipsToPixels(double twips, double scale);
int pixelsToTwips(int pixels, double scale);

// The outer frame around a client area, and the client area left inside an outer size
// (never below one pixel: a window cannot be empty).
WindowSize outerSize(WindowSize client, const FrameExtents& frame);
WindowSize clientSize(WindowSize outer, const FrameExtents& frame);

// Where the client area goes for the outer frame to start at `outer`, and back.
WindowPoint clientPosition(WindowPoint outer, const FrameExtents& frame);
WindowRect outerRect(WindowRect client, const FrameExtents& frame);

// The outer frame's top-left that centres a frame of `outer` size within `area`.
WindowPoint centredFrame(const WindowRect& area, WindowSize outer);

// The preview's frame: against the main window's right edge, tops aligned.
WindowPoint besideFrame(const WindowRect& mainOuter);

// The preview's outer size for a picture of `picture` pixels: the picture plus 300 twips
// across and 550 twips down, each converted as the window's own twips.
WindowSize previewOuterSize(WindowSize picture, double scale);

} // namespace app
