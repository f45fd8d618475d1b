// Scene 2: a flight over a field of 8 x 8 spinning cubes whose speed follows the music,
// with a banner and three lines of running letters. Owns its clock, camera phase,
// camera, the cube and the banner sprite.
#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>

#include "app/timeline.h"
#include "geometry/mesh.h"
#include "render/camera.h"
#include "render/overlay.h"
#include "render/render_state.h"
#include "scenes/scenes.h"
#include "texture/texture_bank.h"

namespace {
float sceneClock = 0.0f;   // 50 ms units this scene has been shown
float cameraPhase = 0.0f;  // grows with the music level; stands still in silence
Camera camera;
Mesh gridCube;    // side 80, drawn 64 times
Sprite banner{};  // angle stays 0

struct RunningLine {
    const char* text;
    double speed;  // text-plane units per clock unit, leftwards
    float y;      // text-plane height
};
const RunningLine runningLines[3] = {
    {"behind the stars you can find a beautiful woman with golden wings...", 0.016, 0.1f},
    {"little cat is running faster and faster, but will never reach the goal... :(", 0.019, -0.2f},
    {"fly higher fly higher.. reach for the sky! dont look at the sun, or you become blind...",
     0.023, -0.5f},
};
const double LETTER_PITCH = 0.17;  // text-plane units between letter anchors, whatever the glyph
}  // namespace

void setupScene2() {
    gridCube.buildBox(40.0f, 40.0f, 40.0f);
    gridCube.computeNormals();
    restartScene2();
}

void restartScene2() {
    sceneClock = 0.0f;
    cameraPhase = 0.0f;
    banner = Sprite{};
    camera.setCamera(Vec3(0.0f, 0.0f, -200.0f), Vec3(0.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f));
}

void renderScene2() {
    // Sent under the identity modelview: the light is placed relative to the eye.
    sceneLight.setLight(Vec3(100.0f, 60.0f, -200.0f), Color{1.0f, 1.0f, 1.0f, 1.0f},
                        Color{0.9f, 0.9f, 0.9f, 1.0f}, 0);
    enable(GL_LIGHTING);
    sceneClock += frameStep;
    cameraPhase += musicLevel * frameStep * 16.0f;

    const float p = cameraPhase;
    camera.eye.x = 200.0f * cosf32(static_cast<float>(0.1 * p));
    camera.eye.y = 50.0f * sinf32(static_cast<float>(0.5 * p)) - 200.0f;
    camera.eye.z = 200.0f * sinf32(static_cast<float>(0.1 * p));
    camera.center.x = 300.0f * cosf32(static_cast<float>(0.1 * p));
    camera.center.y = 10.0f * sinf32(static_cast<float>(0.5 * p)) - 90.0f;
    camera.applyCamera();

    // Leaves: back faces culled, texturing on. Depth test stays off as every frame
    // starts: each cube is drawn over those before it, in loop order.
    enable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    enable(GL_TEXTURE_2D);
    textureBank->bindTexture(tex1Id);

    for (int j = -4; j < 4; ++j) {
        for (int i = -4; i < 4; ++i) {
            glPushMatrix();  // Leaves: this cube's placement, popped below.
            glTranslatef(static_cast<float>(200 * i + 100), static_cast<float>(50 * j),
                         static_cast<float>(200 * j));
            glRotatef(static_cast<float>(i) + sceneClock, 1.0f, 0.0f, 0.0f);
            glRotatef(static_cast<float>(j) + sceneClock, 0.0f, 0.0f, 1.0f);
            setMaterial(static_cast<float>(1.0 - 0.2 * std::abs(i)),
                        static_cast<float>(0.4 + 0.1 * std::abs(j)), 1.0f, 0.9f, 1.5f, 1.0f);
            disable(GL_BLEND);
            gridCube.drawSolid();
            enable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE);  // Leaves: additive blending on.
            gridCube.drawLines();
            glPopMatrix();
        }
    }

    // Leaves: texturing and sphere mapping off, blending on with
    // (SRC_ALPHA, ONE_MINUS_SRC_ALPHA), current colour opaque black.
    disable(GL_TEXTURE_2D);
    enable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
    setSphereMap(false);

    textFont.beginText(1.0f);
    disable(GL_CULL_FACE);
    disable(GL_DEPTH_TEST);

    // The banner is drawn inside the text bracket: end2D gives back the text plane's
    // modelview, on which the letters below are placed.
    textureBank->bindTexture(tex5Id);
    overlay.begin2D();
    banner.x = 0.0f;
    banner.y = 0.1f;
    banner.sizeX = 1.0f;
    banner.sizeY = 0.4f;
    banner.alphaBlend = true;
    banner.textured = true;
    banner.repeatU = 1.0f;
    banner.repeatV = 1.0f;
    banner.color = Color{1.0f, 1.0f, 1.0f, 0.0f};  // the alpha comes from drawSprite's argument
    banner.drawSprite(0.9f);
    overlay.end2D();

    // Every letter gets its own anchor; one whose anchor is off screen is not drawn.
    const float t = sceneClock;
    for (const RunningLine& line : runningLines) {
        for (int n = 0; line.text[n] != '\0'; ++n) {
            const float x = static_cast<float>((1.0 - line.speed * t) + LETTER_PITCH * n);
            char letter[2];
            std::snprintf(letter, sizeof letter, "%c", line.text[n]);
            printCaption(x, line.y, 1.0f, letter);
        }
    }
    textFont.endText();

    drawSceneFadeIn(sceneClock);
    finishScene(2);
}
