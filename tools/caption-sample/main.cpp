// caption-sample OUT.png: draws the demo's caption lines with the real caption font on
// white, in the hidden 640 x 480 render target, and writes that frame as a PNG.
// Runs without a screen (SDL's offscreen driver unless SDL_VIDEODRIVER says otherwise).
#include <GL/gl.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/display.h"
#include "render/bitmap_font.h"
#include "render/overlay.h"

namespace {

const Color BLACK = {0.0f, 0.0f, 0.0f, 1.0f};

// The render target as top-down RGB rows.
std::vector<png_byte> readRgbFrame() {
    const size_t rowBytes = static_cast<size_t>(screenWidth) * 3;
    std::vector<png_byte> bottomUp(rowBytes * screenHeight), topDown(rowBytes * screenHeight);
    // Leaves: pack alignment 1.
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, screenWidth, screenHeight, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    for (int y = 0; y < screenHeight; ++y)
        std::copy_n(&bottomUp[(screenHeight - 1 - y) * rowBytes], rowBytes, &topDown[y * rowBytes]);
    return topDown;
}

bool writePng(const char* path, const std::vector<png_byte>& rgb) {
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, screenWidth, screenHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < screenHeight; ++y)
        png_write_row(png, &rgb[static_cast<size_t>(y) * screenWidth * 3]);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

// Draws one caption line with its own anchor, as the scenes do.
void caption(float x, float y, float alpha, const char* text) {
    textFont.setTextPosition(x, y, alpha, BLACK);
    textFont.printText("%s", text);
}

// The captions as the scenes draw them: black, on the plane one unit in front of the eye.
void drawSample() {
    // Leaves: white target, identity modelview.
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();

    textFont.beginText(1.0f);
    caption(-2.1f, 1.35f, 1.0f, "we are going to...");
    caption(-2.1f, 1.12f, 0.5f, "tell you a story...   (alpha 0.5)");
    caption(-2.1f, 0.89f, 1.0f, "code:   sablenix");
    caption(-2.1f, 0.66f, 1.0f, "music:   anonymous kestrune member");

    // The running letters' banner (a plain band here) and three lines over it, one anchor
    // per letter at a 0.17-unit pitch; letters whose anchor is off screen are skipped.
    overlay.begin2D();
    Sprite banner{};
    banner.y = 0.1f;
    banner.sizeX = 1.0f;
    banner.sizeY = 0.4f;
    banner.alphaBlend = true;
    banner.color = {0.75f, 0.8f, 0.9f, 0.0f};
    banner.drawSprite(0.9f);
    overlay.end2D();
    const char* const running[3] = {
        "behind the stars you can find a beautiful woman with golden wings...",
        "little cat is running faster and faster, but will never reach the goal... :(",
        "fly higher fly higher.. reach for the sky! dont look at the sun, or you become blind...",
    };
    const float runningY[3] = {0.1f, -0.2f, -0.5f};
    for (int line = 0; line < 3; ++line) {
        for (int n = 0; running[line][n]; ++n) {
            char letter[2];
            std::snprintf(letter, sizeof letter, "%c", running[line][n]);
            textFont.setTextPosition(-2.1f + 0.17f * n, runningY[line], 1.0f, BLACK);
            textFont.printText("%s", letter);
        }
    }

    // Bytes 128..255 are Windows-1252.
    caption(-2.1f, -1.1f, 1.0f, "caf\xE9 \x80" "5 \x93" "quoted\x94 \xC5ngstr\xF6m Stra\xDF" "e \xF1 \xBF? \xA9");
    caption(-2.1f, -1.33f, 1.0f, "ABCDEFGHIJKLM abcdefghijklm 0123456789");
    textFont.endText();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: caption-sample OUT.png\n");
        return 2;
    }
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    if (!openDisplay(windowClassName, 640, 480, 32, WindowKind::Hidden)) return 1;
    if (!textFont.createFont(30)) {
        std::fprintf(stderr, "caption-sample: no caption font\n");
        return 1;
    }
    drawSample();
    if (!writePng(argv[1], readRgbFrame())) {
        std::fprintf(stderr, "caption-sample: cannot write %s\n", argv[1]);
        return 1;
    }
    closeDisplay();
    return 0;
}
