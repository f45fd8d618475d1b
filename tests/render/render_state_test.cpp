// Camera, light, material and sphere mapping, read back from GL.
#include <GL/gl.h>

#include <array>

#include "render/camera.h"
#include "render/render_state.h"
#include "tests/support/gl_test.h"

namespace {

using Four = std::array<GLfloat, 4>;

Four lightParam(GLenum light, GLenum which) {
    Four v{};
    glGetLightfv(light, which, v.data());
    return v;
}

Four materialParam(GLenum face, GLenum which) {
    Four v{};
    glGetMaterialfv(face, which, v.data());
    return v;
}

class RenderStateTest : public GlTest {};

TEST_F(RenderStateTest, DefaultCameraIsIdentityAndCamerasMultiplyOnto) {
    Camera camera;
    camera.applyCamera();
    GLfloat m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], (i % 5 == 0) ? 1.0f : 0.0f, 1e-7f) << i;
    // Looking from z = 5 at the origin is a translation by -5, after what was there.
    glTranslatef(1, 2, 3);
    camera.setCamera(Vec3(0, 0, 5), Vec3(0, 0, 0), Vec3(0, 1, 0));
    camera.applyCamera();
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_EQ((Four{m[12], m[13], m[14], m[15]}), (Four{1, 2, -2, 1}));
}

TEST_F(RenderStateTest, LightSendsAlphaOneKeepsTheRecordAndFollowsTheModelview) {
    glTranslatef(0, 0, -5);  // as if the camera were applied first
    sceneLight.setLight(Vec3(1, 2, 3), Color{0.5f, 0.6f, 0.7f, 0.0f}, Color{0.1f, 0.2f, 0.3f, 0.0f}, 0);
    EXPECT_EQ(lightParam(GL_LIGHT0, GL_AMBIENT), (Four{0.1f, 0.2f, 0.3f, 1}));
    EXPECT_EQ(lightParam(GL_LIGHT0, GL_DIFFUSE), (Four{0.5f, 0.6f, 0.7f, 1}));
    EXPECT_EQ(lightParam(GL_LIGHT0, GL_POSITION), (Four{1, 2, -2, 1}));  // eye space, positional
    EXPECT_EQ(lightParam(GL_LIGHT0, GL_SPECULAR), (Four{1, 1, 1, 1}));   // never set
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_EQ(sceneLight.ambient.a, 0.0f);
    EXPECT_EQ(sceneLight.diffuse.a, 0.0f);

    // Index 2 goes to GL_LIGHT2 only.
    const Four marker{0.9f, 0.8f, 0.7f, 0.6f};
    glDisable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_AMBIENT, marker.data());
    Light other;
    other.setLight(Vec3(0, 0, 0), Color{1, 1, 1, 1}, Color{0.25f, 0.25f, 0.25f, 0}, 2);
    EXPECT_TRUE(glIsEnabled(GL_LIGHT2));
    EXPECT_EQ(lightParam(GL_LIGHT2, GL_AMBIENT), (Four{0.25f, 0.25f, 0.25f, 1}));
    EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
    EXPECT_EQ(lightParam(GL_LIGHT0, GL_AMBIENT), marker);
    glDisable(GL_LIGHT2);
}

TEST_F(RenderStateTest, MaterialReachesTheFrontFaceUnclamped) {
    const Four backAmbient{0.3f, 0.3f, 0.3f, 1};
    glMaterialfv(GL_BACK, GL_AMBIENT, backAmbient.data());
    setMaterial(1.0f, 0.5f, 0.0f, 0.2f, 1.0f, 2.0f);
    EXPECT_EQ(materialParam(GL_FRONT, GL_AMBIENT), (Four{0.2f, 0.1f, 0, 1}));
    EXPECT_EQ(materialParam(GL_FRONT, GL_DIFFUSE), (Four{1, 0.5f, 0, 1}));
    EXPECT_EQ(materialParam(GL_FRONT, GL_SPECULAR), (Four{2, 1, 0, 1}));
    EXPECT_EQ(materialParam(GL_FRONT, GL_EMISSION), (Four{0, 0, 0, 1}));
    EXPECT_EQ(materialParam(GL_FRONT, GL_SHININESS)[0], 24.0f);
    EXPECT_EQ(materialParam(GL_BACK, GL_AMBIENT), backAmbient);
}

TEST_F(RenderStateTest, SphereMapOffKeepsTheGenerationMode) {
    setSphereMap(true);
    GLint mode = 0;
    glGetTexGeniv(GL_T, GL_TEXTURE_GEN_MODE, &mode);
    EXPECT_EQ(mode, GL_SPHERE_MAP);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_GEN_S) && glIsEnabled(GL_TEXTURE_GEN_T));
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR);
    setSphereMap(false);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_GEN_S) || glIsEnabled(GL_TEXTURE_GEN_T));
    glGetTexGeniv(GL_S, GL_TEXTURE_GEN_MODE, &mode);
    EXPECT_EQ(mode, GL_OBJECT_LINEAR);
}

}  // namespace
