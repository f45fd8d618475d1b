// Scene 3: a full-screen picture with a swinging additive copy, an unlit turning torus
// in front and the boy's story. Owns its clock, camera, the torus and the sprite.
#include <GL/gl.h>

#include "app/timeline.h"
#include "geometry/mesh.h"
#include "render/camera.h"
#include "render/overlay.h"
#include "render/render_state.h"
#include "scenes/scenes.h"
#include "texture/texture_bank.h"

namespace {
float sceneClock = 0.0f;  // 50 ms units this scene has been shown
Camera camera;
Mesh torus;        // round the y axis, major radius 60, minor 30
Sprite picture{};  // the background; angle stays 0
}  // namespace

void setupScene3() {
    torus.buildTorus(32, 32, 60.0f, 30.0f);
    torus.computeNormals();
    restartScene3();
}

void restartScene3() {
    sceneClock = 0.0f;
    picture = Sprite{};
    camera.setCamera(Vec3(0.0f, 0.0f, 100.0f), Vec3(-20.0f, -40.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f));
}

void renderScene3() {
    camera.applyCamera();
    sceneClock += frameStep;
    const float t = sceneClock;

    disable(GL_DEPTH_TEST);
    disable(GL_CULL_FACE);
    enable(GL_TEXTURE_2D);
    textureBank->bindTexture(tex8Id);

    overlay.begin2D();
    picture.x = 0.0f;
    picture.y = 0.0f;
    picture.sizeX = 1.0f;
    picture.sizeY = 1.0f;
    picture.repeatU = 1.0f;
    picture.repeatV = 1.0f;
    picture.textured = true;
    picture.alphaBlend = true;
    picture.color = Color{1.0f, 1.0f, 1.0f, 1.0f};
    picture.drawSprite(1.0f);
    // The additive copy swings in width and is mirrored while the sine is negative.
    picture.alphaBlend = false;
    picture.sizeX = 5.0f * sinf32(static_cast<float>(0.3 * t)) * picture.sizeX;
    picture.drawSprite(0.3f);
    overlay.end2D();
    // The sprite left lighting off and the current colour (1, 1, 1, 0.3): the torus
    // below is unlit and its overlay adds 0.3 of the texture.

    disable(GL_DEPTH_TEST);
    enable(GL_CULL_FACE);  // back faces, the only mode of the run
    textureBank->bindTexture(tex1Id);

    glPushMatrix();  // Leaves: the torus's turn, popped below.
    glRotatef(t, 1.0f, 1.0f, 1.0f);
    disable(GL_BLEND);
    torus.drawSolid();
    enable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);  // Leaves: additive blending on.
    torus.drawLines();
    glPopMatrix();  // Leaves: the camera's modelview.

    textFont.beginText(1.0f);
    printCaption(static_cast<float>(0.01 * t - 1.5), 0.0f, static_cast<float>(1.0 - 0.014 * t),
                 "little boy...");
    if (t > 60.0f) {
        const float d = t - 60.0f;
        printCaption(static_cast<float>(0.3 - 0.01 * d), -0.2f, static_cast<float>(1.0 - 0.014 * d),
                     "is very scared...");
    }
    if (t > 120.0f) {
        const float d = t - 120.0f;
        printCaption(static_cast<float>(0.01 * d - 1.5), 0.0f, static_cast<float>(1.0 - 0.014 * d),
                     "because how dare his mother...");
    }
    if (t > 180.0f) {
        const float d = t - 180.0f;
        printCaption(static_cast<float>(0.3 - 0.01 * d), -0.2f, static_cast<float>(1.0 - 0.014 * d),
                     "punch him :(");
    }
    textFont.endText();

    drawSceneFadeIn(t);
    finishScene(3);
}
