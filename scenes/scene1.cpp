// Scene 1: the camera inside a long waving tube, with the opening words drifting over
// it. Owns its clock, camera and the tube.
#include <GL/gl.h>

#include "app/timeline.h"
#include "geometry/mesh.h"
#include "render/camera.h"
#include "render/render_state.h"
#include "scenes/scenes.h"
#include "texture/texture_bank.h"

namespace {
float sceneClock = 0.0f;  // 50 ms units this scene has been shown
Camera camera;
Mesh tube;  // axis y from -350 to 350, radius 120; deformed per frame, restored after
}  // namespace

void setupScene1() {
    tube.buildTube(32, 32, 120.0f, 700.0f);
    tube.computeNormals();
    restartScene1();
}

void restartScene1() {
    sceneClock = 0.0f;
    camera.setCamera(Vec3(0.0f, 0.0f, 50.0f), Vec3(0.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f));
}

void renderScene1() {
    camera.applyCamera();
    // After the camera: the light stays put in the world.
    sceneLight.setLight(Vec3(-50.0f, 50.0f, 0.0f), Color{1.0f, 1.0f, 1.0f, 1.0f},
                        Color{1.0f, 1.0f, 1.0f, 1.0f}, 0);
    enable(GL_LIGHTING);
    sceneClock += frameStep;

    // Leaves: no culling or depth test (near and far walls mix in index order),
    // texturing on with the metal picture, white material, blending off.
    disable(GL_CULL_FACE);
    disable(GL_DEPTH_TEST);
    enable(GL_TEXTURE_2D);
    setSphereMap(false);
    textureBank->bindTexture(tex3Id);
    setMaterial(1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f);
    disable(GL_BLEND);

    glPushMatrix();  // Leaves: the tube's turn on the modelview, camera one level down.
    glRotatef(sceneClock * 0.5f, 0.0f, 1.0f, 0.0f);
    tube.savePositions();
    // The radius swells along y; the normals stay those of the straight tube.
    const float t = sceneClock;
    for (Vec3& p : tube.positions) {
        const float f = static_cast<float>(sinf32(static_cast<float>(0.02 * p.y + 0.1 * t)) * 0.5 + 1.0);
        p.x = p.x * f;
        p.z = p.z * f;
    }
    tube.drawSolid();
    enable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);  // Leaves: additive blending on.
    tube.drawLines();
    tube.restorePositions();
    glPopMatrix();  // Leaves: the camera's modelview.

    disable(GL_TEXTURE_2D);
    textFont.beginText(1.0f);
    // Invisible lead-in: it takes the frame's first raster position while lighting is
    // still on, so the visible captions after it are placed unlit, in black.
    printCaption(-3.0f, -3.0f, 1.0f, "LOALO");
    printCaption(static_cast<float>(0.01 * t - 1.5), 0.0f, static_cast<float>(1.0 - 0.015 * t),
                 "we are going to...");
    if (t > 60.0f) {
        const float d = t - 60.0f;
        printCaption(static_cast<float>(0.3 - 0.01 * d), -0.2f, static_cast<float>(1.0 - 0.015 * d),
                     "tell you a story...");
    }
    if (t > 120.0f) {
        const float d = t - 120.0f;
        printCaption(static_cast<float>(0.004 * d - 2.0), 0.0f, static_cast<float>(1.0 - 0.007 * d),
                     "about Inkhollow");
    }
    if (t > 120.0f) {
        const float d = t - 120.0f;
        printCaption(static_cast<float>(0.004 * d - 1.7), -0.15f, static_cast<float>(1.0 - 0.007 * d),
                     "And Velmora...");
    }
    // Shown from 190 but timed from 180: it enters part-way along its drift and fade.
    if (t > 190.0f) {
        const float d = t - 180.0f;
        printCaption(static_cast<float>(-0.7 - 0.01 * d), -0.3f, static_cast<float>(1.0 - 0.017 * d),
                     "which is name of this demo...");
    }
    textFont.endText();

    drawSceneFadeIn(sceneClock);
    finishScene(1);
}
