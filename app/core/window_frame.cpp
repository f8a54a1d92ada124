#include "app/core/window_frame.h"

#include <algorithm>
#include <cmath>

namespace app {

namespace {
constexpr double kTwipsPerPixel = 15.0;

int roundToInt(double value) {
    return static_cast<int>(std::lround(value));
}

// Half a span, rounded down: an odd pixel goes to the bottom-right margin, also when the
// frame is larger than the area and the margins are negative.
int halfOf(int span) {
    return span >= 0 ? span / 2 : -((-span + 1) / 2);
}
} // namespace

int twipsToPixels(double twips, double scale) {
    return roundToInt(twips / kTwipsPerPixel * scale);
}

int pixelsToTwips(int pixels, double scale) {
    return roundToInt(pixels * kTwipsPerPixel / scale);
}

WindowSize outerSize(WindowSize client, const FrameExtents& frame) {
    return {client.width + frame.left + frame.right, client.height + frame.top + frame.bottom};
}

WindowSize clientSize(WindowSize outer, const FrameExtents& frame) {
    return {std::max(outer.width - frame.left - frame.right, 1),
            std::max(outer.height - frame.top - frame.bottom, 1)};
}

WindowPoint clientPosition(WindowPoint outer, const FrameExtents& frame) {
    return {outer.x + frame.left, outer.y + frame.top};
}

WindowRect outerRect(WindowRect client, const FrameExtents& frame) {
    const WindowSize outer = outerSize({client.width, client.height}, frame);
    return {client.x - frame.left, client.y - frame.top, outer.width, outer.height};
}

WindowPoint centredFrame(const WindowRect& area, WindowSize outer) {
    return {area.x + halfOf(area.width - outer.width), area.y + halfOf(area.height - outer.height)};
}

WindowPoint besideFrame(const WindowRect& mainOuter) {
    return {mainOuter.x + mainOuter.width, mainOuter.y};
}

WindowSize previewOuterSize(WindowSize picture, double scale) {
    return {twipsToPixels(pixelsToTwips(picture.width, scale) + 300, scale),
            twipsToPixels(pixelsToTwips(picture.height, scale) + 550, scale)};
}

} // namespace app
