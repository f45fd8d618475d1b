// Parsing and arithmetic of render sizes, and the frame's place in a window.
#include "app/render_size.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

const int BASE_WIDTH = 640, BASE_HEIGHT = 480;  // pixels of the picture at scale 1
const double MAX_SCALE = 8.0;

// Digits with an optional point and up to six decimals; no sign, no exponent.
bool parseFactor(const std::string& text, double& value) {
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string decimals = point == std::string::npos ? "" : text.substr(point + 1);
    if (whole.empty() || whole.size() > 3 || decimals.size() > 6) return false;
    if (point != std::string::npos && decimals.empty()) return false;
    for (char c : whole + decimals)
        if (c < '0' || c > '9') return false;
    value = std::atof(text.c_str());
    return true;
}

// "WxH" with whole numbers; false for anything else.
bool parsePixels(const std::string& text, int& width, int& height) {
    const size_t x = text.find('x');
    if (x == std::string::npos || x == 0 || x + 1 == text.size() || text.size() > 11) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (i != x && (text[i] < '0' || text[i] > '9')) return false;
    width = std::atoi(text.substr(0, x).c_str());
    height = std::atoi(text.substr(x + 1).c_str());
    return true;
}

}  // namespace

bool parseRenderSize(const std::string& text, RenderSize& size, std::string* why) {
    if (text == "native") {
        size.native = true;
        size.scale = 1.0;
        return true;
    }
    double scale = 0.0;
    int width = 0, height = 0;
    if (parsePixels(text, width, height)) {
        // Only the sizes a factor makes, so that a size and its factor draw the same picture.
        int w = 0, h = 0;
        scale = static_cast<double>(width) / BASE_WIDTH;
        if (scale >= 1.0 && scale <= MAX_SCALE) scaledSize(scale, w, h);
        if (w != width || h != height) {
            if (why) *why = "expected a 4:3 size from 640x480 to 5120x3840 with the width a multiple of 8";
            return false;
        }
    } else if (!parseFactor(text, scale) || scale < 1.0 || scale > MAX_SCALE) {
        if (why) *why = "expected native, a factor from 1 to 8 (like 2 or 2.25) or a size like 640x480";
        return false;
    }
    size.native = false;
    size.scale = scale;
    return true;
}

void scaledSize(double scale, int& width, int& height) {
    const int k = 2 * static_cast<int>(std::lround(BASE_WIDTH / 8 * scale));
    width = 4 * k;
    height = 3 * k;
}

void nativeSize(int drawableWidth, int drawableHeight, int& width, int& height) {
    const int k = std::max(std::min(drawableWidth / 4, drawableHeight / 3), BASE_HEIGHT / 3);
    width = 4 * k;
    height = 3 * k;
}

PixelRect fitFrame(int frameWidth, int frameHeight, int windowWidth, int windowHeight) {
    int width = windowWidth;
    int height = static_cast<int>(static_cast<int64_t>(windowWidth) * frameHeight / frameWidth);
    if (height > windowHeight) {
        height = windowHeight;
        width = static_cast<int>(static_cast<int64_t>(windowHeight) * frameWidth / frameHeight);
    }
    return {(windowWidth - width) / 2, (windowHeight - height) / 2, width, height};
}

int barsAround(const PixelRect& frame, int windowWidth, int windowHeight, PixelRect bars[4]) {
    const int right = frame.x + frame.width, after = frame.y + frame.height;
    const PixelRect all[4] = {{0, 0, frame.x, windowHeight},
                              {right, 0, windowWidth - right, windowHeight},
                              {frame.x, 0, frame.width, frame.y},
                              {frame.x, after, frame.width, windowHeight - after}};
    int count = 0;
    for (const PixelRect& bar : all)
        if (bar.width > 0 && bar.height > 0) bars[count++] = bar;
    return count;
}
