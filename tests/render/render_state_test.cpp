// Camera, light, material and sphere mapping, read back from GL.
#include <GL/gl.h>

#include "render/camera.h"
#include "render/render_state.h"
#include "tests/support/gl_test.h"

namespace {

void expectRgba(const GLfloat* got, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(got[0], r);
    EXPECT_FLOAT_EQ(got[1], g);
    EXPECT_FLOAT_EQ(got[2], b);
    EXPECT_FLOAT_EQ(got[3], a);
}

class RenderStateTest : public GlTest {};

TEST_F(RenderStateTest, DefaultCameraLeavesIdentityAndCamerasMultiplyOnto) {
    Camera camera;
    camera.applyCamera();
    GLfloat m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], (i % 5 == 0) ? 1.0f : 0.0f, 1e-7f) << i;

    // Looking from +5 on z at the origin is a translation by -5, applied after what
    // the caller already had on the stack.
    glTranslatef(1, 2, 3);
    camera.setCamera(Vec3(0, 0, 5), Vec3(0, 0, 0), Vec3(0, 1, 0));
    camera.applyCamera();
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_FLOAT_EQ(m[12], 1.0f);
    EXPECT_FLOAT_EQ(m[13], 2.0f);
    EXPECT_FLOAT_EQ(m[14], -2.0f);
    EXPECT_FLOAT_EQ(camera.eye.z, 5.0f);
}

TEST_F(RenderStateTest, LightSendsAlphaOneKeepsTheRecordAndFollowsTheModelview) {
    glTranslatef(0, 0, -5);  // as if a camera were applied first
    sceneLight.setLight(Vec3(1, 2, 3), Color{0.5f, 0.6f, 0.7f, 0.0f}, Color{0.1f, 0.2f, 0.3f, 0.0f}, 0);
    GLfloat v[4];
    glGetLightfv(GL_LIGHT0, GL_AMBIENT, v);
    expectRgba(v, 0.1f, 0.2f, 0.3f, 1.0f);
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, v);
    expectRgba(v, 0.5f, 0.6f, 0.7f, 1.0f);
    glGetLightfv(GL_LIGHT0, GL_POSITION, v);  // eye coordinates, w = 1: positional
    expectRgba(v, 1.0f, 2.0f, -2.0f, 1.0f);
    glGetLightfv(GL_LIGHT0, GL_SPECULAR, v);  // never set: GL's white
    expectRgba(v, 1.0f, 1.0f, 1.0f, 1.0f);
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_EQ(sceneLight.ambient.a, 0.0f);
    EXPECT_EQ(sceneLight.diffuse.a, 0.0f);
    EXPECT_EQ(sceneLight.position.z, 3.0f);
}

TEST_F(RenderStateTest, LightIndexTwoLeavesLightZeroAlone) {
    const GLfloat marker[4] = {0.9f, 0.8f, 0.7f, 0.6f};
    glDisable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_AMBIENT, marker);
    Light light;
    light.setLight(Vec3(0, 0, 0), Color{1, 1, 1, 1}, Color{0.25f, 0.25f, 0.25f, 1}, 2);
    EXPECT_EQ(light.lightIndex, 2);
    EXPECT_TRUE(glIsEnabled(GL_LIGHT2));
    EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
    GLfloat v[4];
    glGetLightfv(GL_LIGHT0, GL_AMBIENT, v);
    expectRgba(v, 0.9f, 0.8f, 0.7f, 0.6f);
    glGetLightfv(GL_LIGHT2, GL_AMBIENT, v);
    expectRgba(v, 0.25f, 0.25f, 0.25f, 1.0f);
    glDisable(GL_LIGHT2);
}

TEST_F(RenderStateTest, MaterialReachesTheFrontFaceUnclamped) {
    const GLfloat backAmbient[4] = {0.3f, 0.3f, 0.3f, 1.0f};
    glMaterialfv(GL_BACK, GL_AMBIENT, backAmbient);
    setMaterial(1.0f, 0.5f, 0.0f, 0.2f, 1.0f, 2.0f);
    GLfloat v[4];
    glGetMaterialfv(GL_FRONT, GL_AMBIENT, v);
    expectRgba(v, 0.2f, 0.1f, 0.0f, 1.0f);
    glGetMaterialfv(GL_FRONT, GL_DIFFUSE, v);
    expectRgba(v, 1.0f, 0.5f, 0.0f, 1.0f);
    glGetMaterialfv(GL_FRONT, GL_SPECULAR, v);
    expectRgba(v, 2.0f, 1.0f, 0.0f, 1.0f);
    glGetMaterialfv(GL_FRONT, GL_EMISSION, v);
    expectRgba(v, 0.0f, 0.0f, 0.0f, 1.0f);
    glGetMaterialfv(GL_FRONT, GL_SHININESS, v);
    EXPECT_EQ(v[0], 24.0f);
    glGetMaterialfv(GL_BACK, GL_AMBIENT, v);
    expectRgba(v, 0.3f, 0.3f, 0.3f, 1.0f);
}

TEST_F(RenderStateTest, SphereMapOffKeepsTheGenerationMode) {
    setSphereMap(true);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_GEN_S));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_GEN_T));
    GLint mode = 0;
    glGetTexGeniv(GL_T, GL_TEXTURE_GEN_MODE, &mode);
    EXPECT_EQ(mode, GL_SPHERE_MAP);
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR);
    setSphereMap(false);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_GEN_S));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_GEN_T));
    glGetTexGeniv(GL_S, GL_TEXTURE_GEN_MODE, &mode);
    EXPECT_EQ(mode, GL_OBJECT_LINEAR);
}

}  // namespace
