#include "app/core/platform_choice.h"
#include "app/core/window_frame.h"

#include <gtest/gtest.h>

#include <ostream>

namespace app {
// Readable failures.
void PrintTo(const WindowPoint& p, std::ostream* os);
void PrintTo(const WindowSize& s, std::ostream* os);
void PrintTo(const WindowRect& r, std::ostream* os);
void PrintTo(const WindowPoint& p, std::ostream* os) {
    *os << p.x << "," << p.y;
}
void PrintTo(const WindowSize& s, std::ostream* os) {
    *os << s.width << "x" << s.height;
}
void PrintTo(const WindowRect& r, std::ostream* os) {
    *os << r.x << "," << r.y << " " << r.width << "x" << r.height;
}
} // namespace app

using app::FrameExtents;
using app::WindowPoint;
using app::WindowRect;
using app::WindowSize;

namespace {
// The main window's fixed client area, from its design in twips.
WindowSize mainClient(double scale) {
    return {app::twipsToPixels(8040, scale), app::twipsToPixels(6330, scale)};
}
} // namespace

TEST(WindowFrame, TheMainWindowIsCentredByItsOuterFrame) {
    // openbox's frame at 96 dpi, on a 1280 x 1024 screen.
    const FrameExtents openbox{1, 1, 20, 1};
    const WindowRect screen{0, 0, 1280, 1024};
    const WindowSize outer = app::outerSize(mainClient(1.0), openbox);
    EXPECT_EQ(outer, (WindowSize{538, 443}));
    const WindowPoint frame = app::centredFrame(screen, outer);
    EXPECT_EQ(frame, (WindowPoint{371, 290}));
    EXPECT_EQ(app::clientPosition(frame, openbox), (WindowPoint{372, 310}));

    // No window manager: no frame, and the client area itself is centred.
    const WindowSize bare = app::outerSize(mainClient(1.0), {});
    EXPECT_EQ(bare, (WindowSize{536, 422}));
    EXPECT_EQ(app::clientPosition(app::centredFrame(screen, bare), {}), (WindowPoint{372, 301}));

    // At 144 dpi the window is 804 x 633 and the theme's frame grows with it.
    const FrameExtents scaled{2, 2, 30, 2};
    const WindowSize big = app::outerSize(mainClient(1.5), scaled);
    EXPECT_EQ(big, (WindowSize{808, 665}));
    EXPECT_EQ(app::centredFrame({0, 0, 1920, 1536}, big), (WindowPoint{556, 435}));

    // A second screen to the right, its top taken by a panel: centred within what is left.
    EXPECT_EQ(app::centredFrame({1280, 30, 1280, 994}, outer), (WindowPoint{1280 + 371, 30 + 275}));

    // A frame larger than the screen hangs over the top-left as much as the bottom-right,
    // the odd pixel going up and left.
    EXPECT_EQ(app::centredFrame(screen, {1283, 1027}), (WindowPoint{-2, -2}));
}

TEST(WindowFrame, ThePreviewSitsAgainstTheMainFramesRightEdgeAndTopAligned) {
    const FrameExtents main{1, 1, 20, 1};
    const WindowRect mainOuter =
        app::outerRect({372, 310, mainClient(1.0).width, mainClient(1.0).height}, main);
    EXPECT_EQ(mainOuter, (WindowRect{371, 290, 538, 443}));
    EXPECT_EQ(app::besideFrame(mainOuter), (WindowPoint{909, 290}));

    // The preview's resizable frame is deeper at the bottom; its client area starts inside.
    const FrameExtents preview{1, 1, 20, 5};
    EXPECT_EQ(app::clientPosition(app::besideFrame(mainOuter), preview), (WindowPoint{910, 310}));
    // And the way back: the outer frame of that client area is where it was put.
    EXPECT_EQ(app::outerRect({910, 310, 378, 252}, preview), (WindowRect{909, 290, 380, 277}));
}

TEST(WindowFrame, TheGrowRuleSetsTheOuterSizeAndTheClientAreaTakesTheRest) {
    // A 360 x 240 picture: 300 x 550 twips more, that is 20 x 37 pixels at 96 dpi.
    const WindowSize outer = app::previewOuterSize({360, 240}, 1.0);
    EXPECT_EQ(outer, (WindowSize{380, 277}));
    EXPECT_EQ(app::clientSize(outer, {1, 1, 20, 5}), (WindowSize{378, 252}));
    EXPECT_EQ(app::clientSize(outer, {}), outer); // no window manager: nothing to take off

    // A wide, low picture, 6000 x 750 twips: the window becomes 6300 x 1300.
    EXPECT_EQ(app::previewOuterSize({400, 50}, 1.0),
              (WindowSize{app::twipsToPixels(6300, 1.0), app::twipsToPixels(1300, 1.0)}));

    // At a scale of 1.5 a pixel is 10 twips: 3600 + 300 and 2400 + 550 twips.
    const WindowSize scaled = app::previewOuterSize({360, 240}, 1.5);
    EXPECT_EQ(scaled, (WindowSize{390, 295}));
    EXPECT_EQ(app::clientSize(scaled, {2, 2, 30, 7}), (WindowSize{386, 258}));

    // A frame wider than the window asked for still leaves a client area.
    EXPECT_EQ(app::clientSize({10, 10}, {8, 8, 30, 8}), (WindowSize{1, 1}));
}

TEST(WindowFrame, TwipsAndPixelsRoundToTheNearest) {
    EXPECT_EQ(app::twipsToPixels(3500, 1.0), 233); // 233.3
    EXPECT_EQ(app::twipsToPixels(550, 1.0), 37);   // 36.7
    EXPECT_EQ(app::twipsToPixels(3500, 1.5), 350);
    EXPECT_EQ(app::twipsToPixels(8040, 1.5), 804);
    EXPECT_EQ(app::twipsToPixels(6330, 1.5), 633);
    EXPECT_EQ(app::pixelsToTwips(233, 1.0), 3495);
    EXPECT_EQ(app::pixelsToTwips(233, 1.5), 2330);
    EXPECT_EQ(app::pixelsToTwips(1, 1.25), 12);
}

TEST(QtPlatform, XWaylandIsPreferredOnAWaylandSessionUnlessTheUserChose) {
    // Wayland with XWayland: X11 first, Wayland as the fall-back.
    EXPECT_EQ(app::ChooseQtPlatform(nullptr, "wayland-0", ":0", "wayland"), "xcb;wayland");
    EXPECT_EQ(app::ChooseQtPlatform("", "wayland-0", ":1", nullptr), "xcb;wayland");
    EXPECT_EQ(app::ChooseQtPlatform(nullptr, nullptr, ":0", "wayland"), "xcb;wayland");
    // The user's choice stands, whatever it is.
    EXPECT_EQ(app::ChooseQtPlatform("wayland", "wayland-0", ":0", "wayland"), "");
    EXPECT_EQ(app::ChooseQtPlatform("offscreen", nullptr, nullptr, nullptr), "");
    // Wayland without XWayland, plain X11 and no display at all: the toolkit decides.
    EXPECT_EQ(app::ChooseQtPlatform(nullptr, "wayland-0", nullptr, "wayland"), "");
    EXPECT_EQ(app::ChooseQtPlatform(nullptr, "wayland-0", "", "wayland"), "");
    EXPECT_EQ(app::ChooseQtPlatform(nullptr, nullptr, ":0", "x11"), "");
    EXPECT_EQ(app::ChooseQtPlatform(nullptr, nullptr, nullptr, nullptr), "");
}
