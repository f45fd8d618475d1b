// The GL test fixture's reset: every setting a test may change, changed at once, comes
// back to what a test starts from, so tests do not depend on the ones run before them.
#include <SDL2/SDL.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include "app/display.h"
#include "tests/support/gl_snapshot.h"
#include "tests/support/gl_test.h"

namespace {

using Snapshot = GlSnapshot;
const GLenum COORDS[4] = {GL_S, GL_T, GL_R, GL_Q};

GLfloat feedback[64];  // written while the render mode is GL_FEEDBACK

// Changes every setting the snapshot holds, as a careless or failing test might leave it.
void changeEverything() {
    const auto bindFramebuffer =
        reinterpret_cast<PFNGLBINDFRAMEBUFFERPROC>(SDL_GL_GetProcAddress("glBindFramebuffer"));
    glClearColor(0.1f, 0.2f, 0.3f, 0.4f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearDepth(0.5);

    for (GLenum cap : glSnapshotSwitches) glIsEnabled(cap) ? glDisable(cap) : glEnable(cap);
    for (int i = 0; i < 8; ++i) glEnable(GL_LIGHT0 + i);

    glBlendFunc(GL_ONE, GL_ZERO);
    glDepthFunc(GL_GREATER);
    glDepthMask(GL_FALSE);
    glAlphaFunc(GL_GREATER, 0.5f);
    glCullFace(GL_FRONT);
    glFrontFace(GL_CW);
    glShadeModel(GL_FLAT);
    glLogicOp(GL_XOR);
    glListBase(99);
    glColorMaterial(GL_FRONT, GL_EMISSION);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, GL_TRUE);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
    glHint(GL_LINE_SMOOTH_HINT, GL_FASTEST);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    const GLenum stores[] = {GL_PACK_ALIGNMENT,   GL_PACK_ROW_LENGTH,    GL_PACK_SKIP_ROWS,
                             GL_PACK_SKIP_PIXELS, GL_PACK_SWAP_BYTES,    GL_PACK_LSB_FIRST,
                             GL_UNPACK_ALIGNMENT, GL_UNPACK_ROW_LENGTH,  GL_UNPACK_SKIP_ROWS,
                             GL_UNPACK_SKIP_PIXELS, GL_UNPACK_SWAP_BYTES, GL_UNPACK_LSB_FIRST};
    for (GLenum store : stores) glPixelStorei(store, 1);
    static const GLfloat arrayData[64] = {};
    glVertexPointer(3, GL_FLOAT, 0, arrayData);
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, arrayData);
    glTexCoordPointer(2, GL_FLOAT, 8, arrayData);
    glNormalPointer(GL_FLOAT, 12, arrayData);
    glStencilFunc(GL_NEVER, 1, 0x0F);
    glStencilOp(GL_ZERO, GL_KEEP, GL_KEEP);
    glStencilMask(0x0F);
    glLineStipple(2, 0x0F0F);
    glFogi(GL_FOG_MODE, GL_LINEAR);
    glFogf(GL_FOG_DENSITY, 0.5f);
    const GLfloat odd[4] = {0.3f, 0.6f, 0.9f, 0.5f}, oddPlane[4] = {0.5f, 0.25f, 2.0f, 3.0f};
    glFogfv(GL_FOG_COLOR, odd);
    glColor4fv(odd);
    glNormal3f(1.0f, 0.0f, 0.0f);
    glTexCoord4f(1.0f, 2.0f, 3.0f, 4.0f);
    glDepthRange(0.25, 0.75);
    glLineWidth(3.0f);
    glPointSize(4.0f);
    glPixelZoom(2.0f, 2.0f);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, odd);
    glPolygonOffset(1.0f, 1.0f);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glColorMask(GL_FALSE, GL_TRUE, GL_FALSE, GL_TRUE);
    glViewport(10, 20, 30, 40);
    glScissor(1, 2, 3, 4);

    // Lights and materials, under a modelview that moves positions and directions.
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRotatef(30.0f, 1.0f, 1.0f, 0.0f);
    for (int i = 0; i < 8; ++i) {
        const GLenum light = GL_LIGHT0 + i;
        for (GLenum colour : {GL_AMBIENT, GL_DIFFUSE, GL_SPECULAR}) glLightfv(light, colour, odd);
        glLightfv(light, GL_POSITION, oddPlane);
        glLightfv(light, GL_SPOT_DIRECTION, oddPlane);
        glLightf(light, GL_SPOT_EXPONENT, 5.0f);
        glLightf(light, GL_SPOT_CUTOFF, 45.0f);
        glLightf(light, GL_CONSTANT_ATTENUATION, 2.0f);
        glLightf(light, GL_LINEAR_ATTENUATION, 0.5f);
        glLightf(light, GL_QUADRATIC_ATTENUATION, 0.25f);
    }
    for (GLenum parameter : {GL_AMBIENT, GL_DIFFUSE, GL_SPECULAR, GL_EMISSION})
        glMaterialfv(GL_FRONT_AND_BACK, parameter, odd);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 24.0f);

    GLuint textures[2];
    glGenTextures(2, textures);
    glBindTexture(GL_TEXTURE_1D, textures[0]);
    glBindTexture(GL_TEXTURE_2D, textures[1]);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, odd);
    for (GLenum coord : COORDS) {
        glTexGeni(coord, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR);
        glTexGenfv(coord, GL_OBJECT_PLANE, oddPlane);
        glTexGenfv(coord, GL_EYE_PLANE, oddPlane);
    }

    // A raster position lit by the lights above, then an invalid one (which keeps the
    // position and colour of the last valid one); then stacks left deep.
    glRasterPos3f(0.1f, 0.1f, -2.0f);
    glRasterPos3f(0.1f, 0.1f, 2.0f);
    glTranslatef(1.0f, 2.0f, 3.0f);
    glPushMatrix();
    glMatrixMode(GL_TEXTURE);
    glScalef(2.0f, 2.0f, 2.0f);
    glPushMatrix();
    glMatrixMode(GL_PROJECTION);
    glOrtho(0, 1, 0, 1, -1, 1);
    glPushMatrix();
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);

    bindFramebuffer(GL_FRAMEBUFFER, 0);
    // Last: feedback mode, and a list left open (later commands would be compiled).
    glFeedbackBuffer(64, GL_3D, feedback);
    glRenderMode(GL_FEEDBACK);
    glNewList(textures[1] + 1000, GL_COMPILE);
}

class GlStateResetTest : public GlTest {};

TEST_F(GlStateResetTest, EverySettingChangedComesBack) {
    const Snapshot clean = glStateSnapshot();
    changeEverything();
    const Snapshot changed = glStateSnapshot();
    resetGlState();
    const Snapshot reset = glStateSnapshot();
    ASSERT_EQ(changed.size(), clean.size());
    ASSERT_EQ(reset.size(), clean.size());
    for (const auto& [name, values] : clean) {
        // The change must reach each setting for its reset to be shown.
        EXPECT_NE(changed.at(name), values) << name << " was not changed";
        EXPECT_EQ(reset.at(name), values) << name << " did not come back";
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace
