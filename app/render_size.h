// The size frames are rendered at: the 640 x 480 picture times a scale, 4:3 kept. What
// the demo's and the capture tool's --render read; and where a frame goes in a window.
// Plain code: knows neither SDL nor GL.
#pragma once
#include <string>

// What --render asked for.
struct RenderSize {
    bool native = false;  // the largest 4:3 size the window's drawable holds (the capture
                          // tool: the size of its output)
    double scale = 1.0;   // 1..8 when not native; 1 is the 640 x 480 picture itself
};

// Reads a --render value: "native", a factor from 1 to 8 with up to six decimals ("2",
// "2.25"), or a 4:3 size that a factor gives exactly ("640x480", "1440x1080"). False with
// a short reason otherwise; `size` is then unchanged.
bool parseRenderSize(const std::string& text, RenderSize& size, std::string* why);

// 640 x 480 times `scale` (1..8), kept at exactly 4:3 with even sides (what H.264's 4:2:0
// needs): 4k x 3k pixels with k even. 1 -> 640x480, 2.25 -> 1440x1080.
void scaledSize(double scale, int& width, int& height);

// The largest exact 4:3 size (4k x 3k pixels) within a drawable of the given pixels, and
// never below 640 x 480: 1920x1080 -> 1440x1080, 1280x1024 -> 1280x960.
void nativeSize(int drawableWidth, int drawableHeight, int& width, int& height);

// A rectangle of window pixels. `y` counts from whichever edge the caller's interface
// counts from (GL: the bottom, X: the top); the arithmetic below is the same for both.
struct PixelRect {
    int x, y, width, height;
};

// Where a frame of frameWidth x frameHeight goes in a window: the largest rectangle of
// its shape that fits, centred, with the smaller half of an odd split before it.
PixelRect fitFrame(int frameWidth, int frameHeight, int windowWidth, int windowHeight);

// The black bars around `frame` in the window, empty ones left out: beside it, then
// before and after it. With the frame they cover the window once. Returns how many.
int barsAround(const PixelRect& frame, int windowWidth, int windowHeight, PixelRect bars[4]);
