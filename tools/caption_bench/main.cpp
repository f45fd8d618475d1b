// caption-bench [FRAMES]: draws the 231 running letters of the cube-field scene, each
// at its own raster position and printed through "%c", FRAMES times (default 300) with
// the glyph lists and as often with plain glBitmap calls, in alternating blocks, and
// prints the median and 90th-percentile time per frame of each path side by side: wall
// time (what a frame waits for) and processor time of all threads (the renderer's too).
// Two layouts: the letters moving across the scene's 38 s (most of them off screen at
// any time, as the scene shows them) and all 231 on screen. Exits 1 if the two paths'
// pixels differ. Runs without a screen (SDL's offscreen driver unless SDL_VIDEODRIVER
// says otherwise).
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "app/display.h"
#include "render/bitmap_font.h"
#include "tools/common/arguments.h"

namespace {

using PrintFn = void (BitmapFont::*)(const char*, ...);

const char* const LINES[3] = {
    "behind the stars you can find a beautiful woman with golden wings...",
    "little cat is running faster and faster, but will never reach the goal... :(",
    "fly higher fly higher.. reach for the sky! dont look at the sun, or you become blind...",
};
const float SPEEDS[3] = {0.016f, 0.019f, 0.023f};  // units per 50 ms of scene clock
const float ROWS[3] = {0.1f, -0.2f, -0.5f};
const float SCENE_CLOCK_END = 760.0f;  // 50 ms units: the scene's 38 s

// One frame of letters. `clock` < 0: the still layout, every letter on screen (three
// lines of 77 at 0.06-unit pitch, six rows).
void drawLetters(PrintFn print, float clock) {
    const Color black = {0.0f, 0.0f, 0.0f, 1.0f};
    textFont.beginText(1.0f);
    int index = 0;
    for (int line = 0; line < 3; ++line)
        for (int n = 0; LINES[line][n]; ++n, ++index) {
            float x, y;
            if (clock >= 0.0f) {
                x = (1.0f - SPEEDS[line] * clock) + 0.17f * static_cast<float>(n);
                y = ROWS[line];
            } else {
                x = -2.25f + 0.06f * static_cast<float>(index % 77);
                y = 1.2f - 0.45f * static_cast<float>(index / 77);
            }
            textFont.setTextPosition(x, y, 1.0f, black);
            (textFont.*print)("%c", LINES[line][n]);
        }
    textFont.endText();
}

double wallMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double cpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The letters of one frame, timed from a finished clear to their finished drawing.
void timeFrame(PrintFn print, float clock, std::vector<double>& wall, std::vector<double>& cpu) {
    // Leaves: white target, identity modelview.
    glClear(GL_COLOR_BUFFER_BIT);
    glLoadIdentity();
    glFinish();
    const double wall0 = wallMs(), cpu0 = cpuMs();
    drawLetters(print, clock);
    glFinish();
    wall.push_back(wallMs() - wall0);
    cpu.push_back(cpuMs() - cpu0);
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

// The frame each path draws at one moment, for the identity check.
std::vector<uint8_t> frameOf(PrintFn print, float clock) {
    std::vector<uint8_t> rgba(static_cast<size_t>(screenWidth) * screenHeight * 4);
    glClear(GL_COLOR_BUFFER_BIT);
    glLoadIdentity();
    drawLetters(print, clock);
    readRenderTarget(rgba.data());
    return rgba;
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 300;
    if (argc > 2 || (argc > 1 && !parseIntArgument(argv[1], 10, 1000000, frames))) {
        std::fprintf(stderr, "usage: caption-bench [FRAMES, 10 to 1000000]\n");
        return 2;
    }
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    if (!openDisplay(windowClassName, 640, 480, 32, WindowKind::Hidden)) return 1;
    if (!textFont.createFont(30)) {
        std::fprintf(stderr, "caption-bench: no caption font\n");
        return 1;
    }
    // Leaves: white clear colour, the frame state the captions start from (depth test off).
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glDisable(GL_DEPTH_TEST);

    const PrintFn paths[2] = {&BitmapFont::printTextWithLists, &BitmapFont::printText};
    const char* const pathNames[2] = {"glyph lists (glCallLists)", "glBitmap from kept bitmaps"};
    const char* const layouts[2] = {"moving, as the scene runs", "all 231 on screen"};
    std::printf("caption-bench: 231 letters, one raster position each, %d frames per path "
                "and layout, 640 x 480\n", frames);
    std::printf("%-27s %-27s %8s %8s %8s %8s\n", "layout", "path", "wall med", "wall p90",
                "cpu med", "cpu p90");
    bool identical = true;
    for (int layout = 0; layout < 2; ++layout) {
        std::vector<double> wall[2], cpu[2];
        const int block = 10;  // frames per path before switching
        for (int start = 0; start < frames; start += block)
            for (int path = 0; path < 2; ++path)
                for (int f = start; f < std::min(frames, start + block); ++f) {
                    const float clock =
                        layout == 0 ? SCENE_CLOCK_END * static_cast<float>(f) / frames : -1.0f;
                    timeFrame(paths[path], clock, wall[path], cpu[path]);
                }
        for (int path = 0; path < 2; ++path)
            std::printf("%-27s %-27s %8.3f %8.3f %8.3f %8.3f\n", layouts[layout], pathNames[path],
                        percentile(wall[path], 0.5), percentile(wall[path], 0.9),
                        percentile(cpu[path], 0.5), percentile(cpu[path], 0.9));
        for (float clock : {0.0f, 300.0f, 700.0f, -1.0f})
            identical = identical && frameOf(paths[0], clock) == frameOf(paths[1], clock);
    }
    std::printf("(ms per frame) identical pixels: %s\n", identical ? "yes" : "NO");
    closeDisplay();
    return identical ? 0 : 1;
}
