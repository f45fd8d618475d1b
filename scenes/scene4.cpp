// Scene 4: a turning checkerboard shell of 98 cubes, seen first from inside and then
// from outside, a picture with a flickering copy and the horses' message. Owns its
// clock, camera, the cube and the sprite.
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
Mesh shellCube;    // side 20, drawn 98 times
Sprite picture{};  // angle stays 0

// A caption shows while the clock is past `start` (the first one always), at
// x = from + drift * (t - start), fading as 1 - 0.014 (t - start).
struct Caption {
    float start;  // clock units
    const char* text;
    double from;   // text-plane x at the start
    double drift;  // text-plane units per clock unit: right on the upper line, left below
    float y;
};
const Caption captions[8] = {
    {0.0f, "listen carefully...", -1.5, 0.01, 0.6f},
    {60.0f, "those horses have message...", 0.0, -0.01, 0.4f},
    {120.0f, "but it can only be heard...", -1.5, 0.01, 0.6f},
    {180.0f, "if you trust your heart.", 0.3, -0.01, 0.4f},
    {240.0f, "it may be difficult...", -1.5, 0.01, 0.6f},
    {300.0f, "and it may be evil...", 0.3, -0.01, 0.4f},
    {360.0f, "but what in the earth...", -1.5, 0.01, 0.6f},
    {420.0f, "can stop real horse lover!", -0.4, -0.01, 0.4f},
};
}  // namespace

void setupScene4() {
    shellCube.buildBox(10.0f, 10.0f, 10.0f);
    shellCube.computeNormals();
    restartScene4();
}

void restartScene4() {
    sceneClock = 0.0f;
    picture = Sprite{};
    camera.setCamera(Vec3(0.0f, 0.0f, 80.0f), Vec3(0.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f));
}

void renderScene4() {
    sceneClock += frameStep;
    const float t = sceneClock;
    // Inside the shell for the first half, outside after; note t > 240 here against
    // t < 240 for the tints, so at exactly 240 the eye is inside with the dark tints.
    camera.eye.z = t > 240.0f ? 280.0f : 80.0f;
    camera.applyCamera();
    sceneLight.setLight(Vec3(0.0f, 100.0f, 0.0f), Color{1.0f, 1.0f, 1.0f, 1.0f},
                        Color{1.0f, 1.0f, 1.0f, 1.0f}, 0);

    // Leaves: lighting, culling (back faces), depth test and texturing on; additive
    // blend function for every overlay below.
    enable(GL_LIGHTING);
    enable(GL_CULL_FACE);
    enable(GL_DEPTH_TEST);
    enable(GL_TEXTURE_2D);
    textureBank->bindTexture(tex3Id);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);

    glPushMatrix();  // Leaves: the shell's turn on the modelview, camera one level down.
    setSphereMap(false);
    glRotatef(t, 1.0f, 1.0f, 1.0f);
    const float s = sinf32(static_cast<float>(0.6 * t));
    const float brightAmbient = static_cast<float>(0.2 * s + 0.8);
    const float darkAmbient = static_cast<float>(0.2 * s + 0.3);
    for (int a = 0; a < 5; ++a) {
        const float y = static_cast<float>(-100 + 50 * a);
        for (int b = 0; b < 5; ++b) {
            const float x = static_cast<float>(-100 + 50 * b);
            for (int c = 0; c < 5; ++c) {
                const float z = static_cast<float>(-100 + 50 * c);
                const bool inner = x > -100.0f && x < 100.0f && y > -100.0f && y < 100.0f &&
                                   z > -100.0f && z < 100.0f;
                if (inner) continue;
                const bool odd = (a + b + c) % 2 == 1;
                if (t < 240.0f) {
                    if (odd)
                        setMaterial(1.0f, 0.5f, 1.0f, brightAmbient, 1.0f, 1.0f);
                    else
                        setMaterial(0.5f, 0.5f, 1.0f, brightAmbient, 1.0f, 1.0f);
                } else {
                    if (odd)
                        setMaterial(0.5f, 0.5f, 1.0f, darkAmbient, 1.0f, 1.0f);
                    else
                        setMaterial(1.0f, 0.5f, 1.0f, darkAmbient, 1.0f, 1.0f);
                }
                glPushMatrix();  // Leaves: this cube's offset, popped below.
                glTranslatef(x, y, z);
                disable(GL_BLEND);
                shellCube.drawSolid();
                enable(GL_BLEND);
                shellCube.drawLines();
                glPopMatrix();
            }
        }
    }
    glPopMatrix();  // Leaves: the camera's modelview.

    disable(GL_CULL_FACE);
    disable(GL_DEPTH_TEST);

    overlay.begin2D();
    picture.x = 0.3f;
    picture.y = 0.18f;
    picture.sizeX = 0.7f;
    picture.sizeY = 0.7f;
    picture.textured = true;
    picture.alphaBlend = true;
    picture.repeatU = 1.0f;
    picture.repeatV = 1.0f;
    picture.color = Color{1.0f, 1.0f, 1.0f, 1.0f};
    textureBank->bindTexture(tex9Id);
    picture.drawSprite(1.0f);
    // Additive copy; a negative alpha is clamped by GL and leaves no mark.
    picture.alphaBlend = false;
    picture.drawSprite(sinf32(static_cast<float>(1.2 * t)));
    overlay.end2D();

    textFont.beginText(1.0f);
    for (const Caption& caption : captions) {
        if (caption.start > 0.0f && !(t > caption.start)) continue;
        const float d = t - caption.start;
        printCaption(static_cast<float>(caption.drift * d + caption.from), caption.y,
                     static_cast<float>(1.0 - 0.014 * d), caption.text);
    }
    textFont.endText();

    drawSceneFadeIn(t);
    finishScene(4);
}
