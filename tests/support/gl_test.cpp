#include "tests/support/gl_test.h"

#include <SDL2/SDL.h>
#include <GL/gl.h>
#include <GL/glext.h>

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

namespace {

void resetStacks() {
    // Leaves: no list being compiled, GL_RENDER mode, empty attribute stacks, each
    // matrix stack one deep with the identity, texture matrix mode current.
    GLint value = 0;
    glGetIntegerv(GL_LIST_INDEX, &value);
    if (value != 0) glEndList();
    glRenderMode(GL_RENDER);
    for (glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &value); value > 0; --value) glPopAttrib();
    for (glGetIntegerv(GL_CLIENT_ATTRIB_STACK_DEPTH, &value); value > 0; --value)
        glPopClientAttrib();
    const GLenum modes[3] = {GL_MODELVIEW, GL_PROJECTION, GL_TEXTURE};
    const GLenum depths[3] = {GL_MODELVIEW_STACK_DEPTH, GL_PROJECTION_STACK_DEPTH,
                              GL_TEXTURE_STACK_DEPTH};
    for (int i = 0; i < 3; ++i) {
        glMatrixMode(modes[i]);
        for (glGetIntegerv(depths[i], &value); value > 1; --value) glPopMatrix();
        glLoadIdentity();
    }
}

void resetSwitchesAndFunctions() {
    // Leaves: every capability below off but dithering and line smoothing; GL's initial
    // per-fragment functions, rasterisation settings and hints, with the frame's blend
    // function and the nicest line smoothing.
    const GLenum off[] = {
        GL_ALPHA_TEST, GL_AUTO_NORMAL, GL_BLEND, GL_COLOR_LOGIC_OP, GL_COLOR_MATERIAL,
        GL_CULL_FACE, GL_DEPTH_TEST, GL_FOG, GL_LIGHTING, GL_LINE_STIPPLE, GL_NORMALIZE,
        GL_POINT_SMOOTH, GL_POLYGON_OFFSET_FILL, GL_POLYGON_OFFSET_LINE,
        GL_POLYGON_OFFSET_POINT, GL_POLYGON_SMOOTH, GL_POLYGON_STIPPLE, GL_RESCALE_NORMAL,
        GL_SCISSOR_TEST, GL_STENCIL_TEST, GL_TEXTURE_1D, GL_TEXTURE_2D, GL_TEXTURE_GEN_S,
        GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R, GL_TEXTURE_GEN_Q};
    for (GLenum cap : off) glDisable(cap);
    for (int light = 0; light < 8; ++light) glDisable(GL_LIGHT0 + light);
    glEnable(GL_DITHER);
    glEnable(GL_LINE_SMOOTH);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    glHint(GL_POINT_SMOOTH_HINT, GL_DONT_CARE);
    glHint(GL_POLYGON_SMOOTH_HINT, GL_DONT_CARE);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_DONT_CARE);
    glHint(GL_FOG_HINT, GL_DONT_CARE);

    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glAlphaFunc(GL_ALWAYS, 0.0f);
    glDepthFunc(GL_LESS);
    glDepthMask(GL_TRUE);
    glDepthRange(0.0, 1.0);
    glStencilFunc(GL_ALWAYS, 0, ~0u);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glStencilMask(~0u);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glLogicOp(GL_COPY);
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    glShadeModel(GL_SMOOTH);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glPolygonOffset(0.0f, 0.0f);
    glLineWidth(1.0f);
    glLineStipple(1, 0xFFFF);
    glPointSize(1.0f);
    glFogi(GL_FOG_MODE, GL_EXP);
    glFogf(GL_FOG_DENSITY, 1.0f);
    glFogf(GL_FOG_START, 0.0f);
    glFogf(GL_FOG_END, 1.0f);
    const GLfloat clear[4] = {0, 0, 0, 0};
    glFogfv(GL_FOG_COLOR, clear);
}

void resetLightsAndMaterials() {
    // Needs the identity modelview: light positions and directions are stored in eye space.
    // Leaves: GL's initial lights, light model, materials and colour-material mode.
    const GLfloat black[4] = {0, 0, 0, 1}, white[4] = {1, 1, 1, 1};
    const GLfloat position[4] = {0, 0, 1, 0}, direction[3] = {0, 0, -1};
    for (int i = 0; i < 8; ++i) {
        const GLenum light = GL_LIGHT0 + i;
        glLightfv(light, GL_AMBIENT, black);
        glLightfv(light, GL_DIFFUSE, i == 0 ? white : black);
        glLightfv(light, GL_SPECULAR, i == 0 ? white : black);
        glLightfv(light, GL_POSITION, position);
        glLightfv(light, GL_SPOT_DIRECTION, direction);
        glLightf(light, GL_SPOT_EXPONENT, 0.0f);
        glLightf(light, GL_SPOT_CUTOFF, 180.0f);
        glLightf(light, GL_CONSTANT_ATTENUATION, 1.0f);
        glLightf(light, GL_LINEAR_ATTENUATION, 0.0f);
        glLightf(light, GL_QUADRATIC_ATTENUATION, 0.0f);
    }
    const GLfloat modelAmbient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, modelAmbient);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_FALSE);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_FALSE);

    const GLfloat ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f}, diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, black);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 0.0f);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
}

void resetTexturesListsAndPixels() {
    // Needs the identity modelview: eye planes are stored in eye space.
    // Leaves: no texture bound, GL's initial texture environment and coordinate
    // generation, list base 0, initial pack and unpack state, pixel zoom 1, every client
    // array off with its initial pointer.
    glBindTexture(GL_TEXTURE_1D, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    const GLfloat none[4] = {0, 0, 0, 0};
    glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, none);
    const GLenum coords[4] = {GL_S, GL_T, GL_R, GL_Q};
    const GLfloat planes[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}};
    for (int i = 0; i < 4; ++i) {
        glTexGeni(coords[i], GL_TEXTURE_GEN_MODE, GL_EYE_LINEAR);
        glTexGenfv(coords[i], GL_OBJECT_PLANE, planes[i]);
        glTexGenfv(coords[i], GL_EYE_PLANE, planes[i]);
    }

    glListBase(0);

    const GLenum stores[2][6] = {
        {GL_PACK_ALIGNMENT, GL_PACK_ROW_LENGTH, GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS,
         GL_PACK_SWAP_BYTES, GL_PACK_LSB_FIRST},
        {GL_UNPACK_ALIGNMENT, GL_UNPACK_ROW_LENGTH, GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS,
         GL_UNPACK_SWAP_BYTES, GL_UNPACK_LSB_FIRST}};
    for (const auto& store : stores) {
        glPixelStorei(store[0], 4);
        for (int i = 1; i < 6; ++i) glPixelStorei(store[i], 0);
    }
    glPixelZoom(1.0f, 1.0f);

    const GLenum arrays[] = {GL_VERTEX_ARRAY, GL_NORMAL_ARRAY, GL_COLOR_ARRAY,
                             GL_TEXTURE_COORD_ARRAY, GL_INDEX_ARRAY, GL_EDGE_FLAG_ARRAY};
    for (GLenum array : arrays) glDisableClientState(array);
    glVertexPointer(4, GL_FLOAT, 0, nullptr);
    glNormalPointer(GL_FLOAT, 0, nullptr);
    glColorPointer(4, GL_FLOAT, 0, nullptr);
    glTexCoordPointer(4, GL_FLOAT, 0, nullptr);
}

}  // namespace

void resetGlState() {
    // First, as popping the attribute stack brings back what was pushed.
    resetStacks();

    // The render target, in case a test bound another framebuffer.
    // Leaves: the render target bound for reading and drawing, its whole area as
    // viewport and scissor box.
    static const auto bindFramebuffer =
        reinterpret_cast<PFNGLBINDFRAMEBUFFERPROC>(SDL_GL_GetProcAddress("glBindFramebuffer"));
    bindFramebuffer(GL_FRAMEBUFFER, renderTargetFramebuffer());
    glViewport(0, 0, screenWidth, screenHeight);
    glScissor(0, 0, screenWidth, screenHeight);

    resetSwitchesAndFunctions();
    glMatrixMode(GL_MODELVIEW);
    resetLightsAndMaterials();
    resetTexturesListsAndPixels();

    // Leaves: the frame's opaque black colour, GL's initial normal and texture coordinate,
    // and, through identity matrices, a valid raster position at the window origin with
    // depth 0 and the raster colour black.
    glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
    glNormal3f(0.0f, 0.0f, 1.0f);
    glTexCoord4f(0.0f, 0.0f, 0.0f, 1.0f);
    glRasterPos4f(-1.0f, -1.0f, -1.0f, 1.0f);

    // Leaves: the start-up perspective, identity modelview current.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    loadPerspective(static_cast<float>(screenWidth) / static_cast<float>(screenHeight));
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    // Leaves: target white, depth 1, stencil 0; no error pending.
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClearDepth(1.0);
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    while (glGetError() != GL_NO_ERROR) {
    }
}

void GlTest::SetUp() {
    ASSERT_TRUE(ensureGlContext()) << "no GL context";
    resetGlState();
}
