// Scene 6: the closing picture under a huge turning, pulsing tiled layer; fades to
// white and ends the program. Owns its clock, camera and the sprite.
#include <GL/gl.h>

#include "app/timeline.h"
#include "render/camera.h"
#include "render/overlay.h"
#include "render/render_state.h"
#include "scenes/scenes.h"
#include "texture/texture_bank.h"

namespace {
float sceneClock = 0.0f;  // 50 ms units this scene has been shown
Camera camera;
Sprite sprite{};  // drawn twice a frame: the picture, then the turning layer
}  // namespace

void setupScene6() {
    restartScene6();
}

void restartScene6() {
    sceneClock = 0.0f;
    sprite = Sprite{};
    camera.setCamera(Vec3(0.0f, 0.0f, 30.0f), Vec3(0.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f));
}

void renderScene6() {
    sceneClock += frameStep;
    const float t = sceneClock;
    camera.applyCamera();

    overlay.begin2D();
    textureBank->bindTexture(tex10Id);
    sprite.x = 0.0f;
    sprite.y = 0.0f;
    sprite.sizeX = 0.9f;
    sprite.sizeY = 0.9f;
    sprite.angle = 0.0f;
    sprite.repeatU = 1.0f;
    sprite.repeatV = 1.0f;
    sprite.textured = true;
    sprite.alphaBlend = true;
    sprite.color = Color{1.0f, 1.0f, 1.0f, 1.0f};
    sprite.drawSprite(1.0f);

    // 4.5 screens wide, turning 100 degrees a second about the top-left corner, tiled 2..16
    // times (GL's repeat wrap); a negative alpha is clamped and shows the picture alone.
    textureBank->bindTexture(tex6Id);
    const float repeats = 7.0f * sinf32(static_cast<float>(0.04 * t)) + 9.0f;
    sprite.repeatU = repeats;
    sprite.repeatV = repeats;
    sprite.sizeX = 4.5f;
    sprite.sizeY = 4.5f;
    sprite.angle = 5.0f * t;
    sprite.color = Color{1.0f, 1.0f, 1.0f, 1.0f};
    sprite.textured = true;
    sprite.alphaBlend = true;
    sprite.drawSprite(static_cast<float>(0.7 * sinf32(static_cast<float>(0.2 * t)) + 0.3));
    overlay.end2D();

    drawSceneFadeIn(t);
    finishScene(6);
}
