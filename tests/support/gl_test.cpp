#include "tests/support/gl_test.h"

#include <GL/gl.h>

#include <ostream>

#include "app/display.h"
#include "render/overlay.h"

std::ostream& operator<<(std::ostream& os, const Rgba& p) {
    return os << "(" << int(p.r) << ", " << int(p.g) << ", " << int(p.b) << ", " << int(p.a) << ")";
}

bool ensureGlContext() {
    static bool opened = openDisplay(windowClassName, 640, 480, 32, WindowKind::Hidden);
    return opened;
}

Rgba pixelAt(int x, int y) {
    Rgba p{};
    glReadPixels(x, screenHeight - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
    return p;
}

std::vector<uint8_t> readFrame() {
    std::vector<uint8_t> frame(static_cast<size_t>(screenWidth) * screenHeight * 4);
    readRenderTarget(frame.data());
    return frame;
}

void GlTest::SetUp() {
    ASSERT_TRUE(ensureGlContext()) << "no GL context";
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    loadPerspective(static_cast<float>(screenWidth) / static_cast<float>(screenHeight));
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
    glBindTexture(GL_TEXTURE_2D, 0);
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    while (glGetError() != GL_NO_ERROR) {
    }
}
