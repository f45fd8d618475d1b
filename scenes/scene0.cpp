// Scene 0: eight textured cubes turning inside a textured room, with a music-driven
// sprite in the middle. Owns its clock, camera, the two meshes and the sprite.
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
Mesh clusterCube;  // side 20, drawn eight times
Mesh roomBox;      // side 240, inverted: seen from inside
Sprite sprite{};   // music sprite; angle stays 0
}  // namespace

void setupScene0() {
    clusterCube.buildBox(10.0f, 10.0f, 10.0f);
    clusterCube.computeNormals();
    roomBox.buildBox(120.0f, 120.0f, 120.0f);
    roomBox.computeNormals();
    roomBox.invertMesh();
    restartScene0();
}

void restartScene0() {
    sceneClock = 0.0f;
    sprite = Sprite{};
    camera.setCamera(Vec3(0.0f, 0.0f, 80.0f), Vec3(15.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f));
}

void renderScene0() {
    // Sent under the identity modelview: the light rides 100 units above the eye.
    sceneLight.setLight(Vec3(0.0f, 100.0f, 0.0f), Color{1.0f, 1.0f, 1.0f, 1.0f},
                        Color{0.9f, 0.9f, 0.9f, 1.0f}, 0);
    enable(GL_LIGHTING);
    sceneClock += frameStep;
    camera.applyCamera();

    // Leaves: texturing, culling (back faces, GL's initial mode) and depth test on,
    // sphere mapping off.
    enable(GL_TEXTURE_2D);
    enable(GL_CULL_FACE);
    enable(GL_DEPTH_TEST);
    setSphereMap(false);

    glPushMatrix();  // Leaves: the cluster's turn on the modelview, camera one level down.
    glRotatef(sceneClock, 1.0f, 1.0f, 1.0f);

    // The room's overlay sets no blend function: it uses the one the previous frame's
    // sprites left (SRC_ALPHA, ONE), or GL's initial (ONE, ZERO) on the very first frame.
    disable(GL_BLEND);
    setMaterial(1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f);
    textureBank->bindTexture(tex3Id);
    roomBox.drawSolid();
    enable(GL_BLEND);
    roomBox.drawLines();

    textureBank->bindTexture(tex1Id);
    const float level10 = musicLevel * 10.0f;
    setMaterial(1.0f, 1.0f, 1.0f, level10, 1.0f, level10);
    for (float y = -30.0f; y < 60.0f; y += 60.0f) {
        for (float x = -30.0f; x < 60.0f; x += 60.0f) {
            for (float z = -30.0f; z < 60.0f; z += 60.0f) {
                glPushMatrix();  // Leaves: this cube's offset, popped below.
                glTranslatef(x, y, z);
                disable(GL_BLEND);
                clusterCube.drawSolid();
                enable(GL_BLEND);
                // Leaves: additive blending for the overlay (and for next frame's room lines).
                glBlendFunc(GL_SRC_ALPHA, GL_ONE);
                clusterCube.drawLines();
                glPopMatrix();
            }
        }
    }
    glPopMatrix();  // Leaves: the camera's modelview.

    disable(GL_CULL_FACE);

    overlay.begin2D();
    textureBank->bindTexture(tex2Id);
    sprite.x = 0.0f;
    sprite.y = 0.0f;
    sprite.alphaBlend = true;
    sprite.textured = true;
    sprite.color = Color{1.0f, 1.0f, 1.0f, 1.0f};
    sprite.sizeX = 4.0f * musicLevel + 1.0f;
    sprite.sizeY = static_cast<float>(1.4 - 2.0f * musicLevel);
    sprite.repeatU = 1.0f;
    sprite.repeatV = 1.0f;
    sprite.drawSprite(static_cast<float>(10.0f * musicLevel + 0.5));
    overlay.end2D();

    finishScene(0);
}
