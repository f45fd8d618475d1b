// caption-sample OUT.png: draws the demo's caption lines with the real caption font on
// white, in the hidden 640 x 480 render target, and writes that frame as a PNG.
// Runs without a screen (SDL's offscreen driver unless SDL_VIDEODRIVER says otherwise).
#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/display.h"
#include "render/bitmap_font.h"
#include "render/overlay.h"
#include "tools/common/png_file.h"

namespace {

const Color BLACK = {0.0f, 0.0f, 0.0f, 1.0f};

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
    std::vector<uint8_t> rgba(static_cast<size_t>(screenWidth) * screenHeight * 4);
    readRenderTarget(rgba.data());
    std::string error;
    if (!writePng(argv[1], screenWidth, screenHeight, rgba.data(), &error)) {
        std::fprintf(stderr, "caption-sample: cannot write %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    closeDisplay();
    return 0;
}
