// The display layer's read-back of the render target, in a real GL context.
#include <SDL2/SDL.h>
#include <GL/gl.h>
#include <GL/glext.h>

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

}  // namespace
