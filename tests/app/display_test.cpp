// The display layer's read-back of the render target, in a real GL context.
#include <SDL2/SDL.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "app/display.h"
#include "tests/support/gl_test.h"

namespace {

class DisplayTest : public GlTest {};

// Fills one pixel (x, y counted from the top) of the render target.
// Leaves: scissor test off, the clear colour (r, g, b, 1).
void paintPixel(int x, int y, float r, float g, float b) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(x, screenHeight - 1 - y, 1, 1);
    glClearColor(r, g, b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
}

TEST_F(DisplayTest, ReadRenderTargetGivesRowsFromTheTopWhateverIsBoundForReading) {
    paintPixel(0, 0, 1, 0, 0);      // top left red
    paintPixel(639, 479, 0, 0, 1);  // bottom right blue
    paintPixel(5, 1, 0, 1, 0);      // second row green

    // Another read framebuffer and pack alignment, as a caller might leave them.
    auto bindFramebuffer = reinterpret_cast<PFNGLBINDFRAMEBUFFERPROC>(SDL_GL_GetProcAddress("glBindFramebuffer"));
    ASSERT_NE(bindFramebuffer, nullptr);
    bindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 8);

    std::vector<uint8_t> rgba(static_cast<size_t>(screenWidth) * screenHeight * 4, 7);
    readRenderTarget(rgba.data());
    auto at = [&](int x, int y) {
        const uint8_t* p = &rgba[(static_cast<size_t>(y) * screenWidth + x) * 4];
        return Rgba{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ(at(0, 0), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(at(5, 1), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(at(639, 479), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(at(320, 240), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(at(639, 0), (Rgba{255, 255, 255, 255}));

    GLint alignment = 0, readBinding = -1;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readBinding);
    EXPECT_EQ(alignment, 1);
    EXPECT_EQ(static_cast<unsigned>(readBinding), renderTargetFramebuffer());
}

TEST_F(DisplayTest, ScaledReadRepeatsPixelsAtWholeFactorsAndLeavesTheTargetBound) {
    paintPixel(0, 0, 1, 0, 0);
    paintPixel(639, 479, 0, 0, 1);
    const int w = screenWidth * 2, h = screenHeight * 2;
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4, 7);
    ASSERT_TRUE(readRenderTarget(rgba.data(), w, h));
    auto at = [&](int x, int y) {
        const uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
        return Rgba{p[0], p[1], p[2], p[3]};
    };
    for (int x : {0, 1})
        for (int y : {0, 1}) EXPECT_EQ(at(x, y), (Rgba{255, 0, 0, 255})) << x << "," << y;
    EXPECT_EQ(at(2, 0), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(at(1278, 958), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(at(1279, 959), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(at(1277, 959), (Rgba{255, 255, 255, 255}));

    // Drawing after a scaled read still lands in the render target.
    GLint drawBinding = -1, readBinding = -1;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &drawBinding);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readBinding);
    EXPECT_EQ(static_cast<unsigned>(drawBinding), renderTargetFramebuffer());
    EXPECT_EQ(static_cast<unsigned>(readBinding), renderTargetFramebuffer());
}

// glBindFramebuffer, fetched at run time as the display layer fetches it.
void bindFb(GLenum target, GLuint framebuffer) {
    static const auto bind =
        reinterpret_cast<PFNGLBINDFRAMEBUFFERPROC>(SDL_GL_GetProcAddress("glBindFramebuffer"));
    bind(target, framebuffer);
}

// A framebuffer standing in for the window: a BGRA texture with no depth buffer, as the
// window's back buffer is. Leaves it bound as the draw framebuffer and texture 0 bound.
struct StandInWindow {
    GLuint framebuffer = 0, texture = 0;
    int width, height;
    StandInWindow(int w, int h, GLenum format) : width(w), height(h) {
        auto gen = reinterpret_cast<PFNGLGENFRAMEBUFFERSPROC>(SDL_GL_GetProcAddress("glGenFramebuffers"));
        auto attach = reinterpret_cast<PFNGLFRAMEBUFFERTEXTURE2DPROC>(SDL_GL_GetProcAddress("glFramebufferTexture2D"));
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, format == GL_BGRA ? GL_RGBA : GL_RGBA8, w, h, 0, format, GL_UNSIGNED_BYTE,
                     nullptr);
        glBindTexture(GL_TEXTURE_2D, 0);
        gen(1, &framebuffer);
        bindFb(GL_DRAW_FRAMEBUFFER, framebuffer);
        attach(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        // White, as a window's stale picture may be: the copy must paint its bars black.
        auto clear = reinterpret_cast<PFNGLCLEARBUFFERFVPROC>(SDL_GL_GetProcAddress("glClearBufferfv"));
        const GLfloat white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        clear(GL_COLOR, 0, white);
    }
    ~StandInWindow() {
        auto del = reinterpret_cast<PFNGLDELETEFRAMEBUFFERSPROC>(SDL_GL_GetProcAddress("glDeleteFramebuffers"));
        del(1, &framebuffer);
        glDeleteTextures(1, &texture);
    }
    // Rows from the bottom, RGBA. Leaves this framebuffer bound for reading.
    std::vector<uint8_t> read() const {
        bindFb(GL_READ_FRAMEBUFFER, framebuffer);
        std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        return rgba;
    }
};

// Noise in the top half of the target (the worst case for a filter's rounding), smooth
// ramps in the bottom half, and a red 8 x 8 block in the top left corner.
// Leaves: the render target bound, unpack alignment 1, raster position at its origin.
void paintTestPicture() {
    std::vector<uint8_t> rgba(static_cast<size_t>(screenWidth) * screenHeight * 4);
    uint32_t seed = 12345;
    for (int y = 0; y < screenHeight; ++y)
        for (int x = 0; x < screenWidth; ++x) {
            uint8_t* p = &rgba[(static_cast<size_t>(y) * screenWidth + x) * 4];
            if (y >= screenHeight / 2) {  // rows from the bottom: the top half
                for (int c = 0; c < 3; ++c) {
                    seed = seed * 1664525u + 1013904223u;
                    p[c] = static_cast<uint8_t>(seed >> 24);
                }
            } else {
                p[0] = static_cast<uint8_t>(x * 255 / (screenWidth - 1));
                p[1] = static_cast<uint8_t>(y * 255 / (screenHeight / 2 - 1));
                p[2] = static_cast<uint8_t>((x + y) / 5);
            }
            p[3] = 255;
            if (x < 8 && y >= screenHeight - 8) p[0] = 255, p[1] = p[2] = 0;
        }
    auto windowPos = reinterpret_cast<void (*)(GLint, GLint)>(SDL_GL_GetProcAddress("glWindowPos2i"));
    windowPos(0, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glDisable(GL_DEPTH_TEST);
    glDrawPixels(screenWidth, screenHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
}

TEST_F(DisplayTest, WindowCopyIsTheBlitsPictureWithinFilterRoundingBetweenBlackBars) {
    paintTestPicture();
    auto blit = reinterpret_cast<PFNGLBLITFRAMEBUFFERPROC>(SDL_GL_GetProcAddress("glBlitFramebuffer"));

    // A full-HD screen: the picture is 1440 x 1080 between 240-column bars. The blit of
    // the same target is what the window showed before the copy was drawn as a quad.
    StandInWindow window(1920, 1080, GL_BGRA), blitted(1440, 1080, GL_RGBA);
    bindFb(GL_READ_FRAMEBUFFER, renderTargetFramebuffer());
    blit(0, 0, screenWidth, screenHeight, 0, 0, 1440, 1080, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    copyTargetInto(window.framebuffer, 1920, 1080);

    GLint draw = -1, read = -1, viewport[4];
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(static_cast<unsigned>(draw), renderTargetFramebuffer());
    EXPECT_EQ(static_cast<unsigned>(read), renderTargetFramebuffer());
    EXPECT_EQ(viewport[2], screenWidth);
    EXPECT_FALSE(glIsEnabled(GL_FRAGMENT_PROGRAM_ARB));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
    GLint texture = -1, mode = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(texture, 0);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    const std::vector<uint8_t> shown = window.read(), reference = blitted.read();
    int largest[2] = {0, 0};
    long differing = 0;
    for (int y = 0; y < 1080; ++y)
        for (int x = 0; x < 1920; ++x) {
            const uint8_t* p = &shown[(static_cast<size_t>(y) * 1920 + x) * 4];
            if (x < 240 || x >= 1680) {
                ASSERT_EQ((Rgba{p[0], p[1], p[2], 0}), (Rgba{0, 0, 0, 0})) << "bar at " << x << "," << y;
                continue;
            }
            const uint8_t* q = &reference[(static_cast<size_t>(y) * 1440 + x - 240) * 4];
            for (int c = 0; c < 3; ++c) {
                const int d = std::abs(p[c] - q[c]);
                differing += d != 0;
                // The rows where ramps meet noise count as noise.
                largest[y >= 536] = std::max(largest[y >= 536], d);
            }
        }
    std::printf("copy against blit: %ld of %d channel values differ; largest step %d on ramps, %d on noise\n",
                differing, 1440 * 1080 * 3, largest[0], largest[1]);
    EXPECT_LE(largest[0], 1) << "smooth ramps";
    EXPECT_LE(largest[1], 4) << "noise";
    // The red corner block lands top left of the picture (rows from the bottom here).
    const uint8_t* corner = &shown[(static_cast<size_t>(1075) * 1920 + 244) * 4];
    EXPECT_EQ((Rgba{corner[0], corner[1], corner[2], 255}), (Rgba{255, 0, 0, 255}));
}

TEST_F(DisplayTest, WindowCopyAtTheTargetsOwnSizeIsPixelForPixel) {
    paintTestPicture();
    StandInWindow window(screenWidth, screenHeight, GL_BGRA);
    copyTargetInto(window.framebuffer, screenWidth, screenHeight);
    const std::vector<uint8_t> shown = window.read();
    std::vector<uint8_t> target(shown.size());
    bindFb(GL_READ_FRAMEBUFFER, renderTargetFramebuffer());
    glReadPixels(0, 0, screenWidth, screenHeight, GL_RGBA, GL_UNSIGNED_BYTE, target.data());
    EXPECT_TRUE(shown == target);
}

}  // namespace

