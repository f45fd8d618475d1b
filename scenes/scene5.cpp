// Scene 5: the camera inside a tube bent by two music-driven waves, with the credits
// and the greetings. Owns its clock, the greetings clock, camera and the tube.
#include <GL/gl.h>

#include "app/timeline.h"
#include "geometry/mesh.h"
#include "render/camera.h"
#include "render/render_state.h"
#include "scenes/scenes.h"
#include "texture/texture_bank.h"

namespace {
float sceneClock = 0.0f;      // 50 ms units this scene has been shown
float greetingsClock = 0.0f;  // runs only once sceneClock is past 200
Camera camera;
Mesh tube;  // axis y from -250 to 250, radius 100; deformed per frame, restored after
}  // namespace

void setupScene5() {
    tube.buildTube(32, 32, 100.0f, 500.0f);
    tube.computeNormals();
    restartScene5();
}

void restartScene5() {
    sceneClock = 0.0f;
    greetingsClock = 0.0f;
    camera.setCamera(Vec3(0.0f, 0.0f, 50.0f), Vec3(0.0f, 0.0f, 0.0f), Vec3(0.0f, 1.0f, 0.0f));
}

void renderScene5() {
    sceneClock += frameStep;
    const float t = sceneClock;
    camera.applyCamera();
    sceneLight.setLight(Vec3(20.0f, 0.0f, -20.0f), Color{1.0f, 1.0f, 1.0f, 1.0f},
                        Color{1.0f, 1.0f, 1.0f, 1.0f}, 0);

    // Leaves: lighting on; culling, depth test and blending off; the metal picture
    // bound; a material with no ambient term (walls facing away come out black).
    enable(GL_LIGHTING);
    disable(GL_CULL_FACE);
    disable(GL_DEPTH_TEST);
    disable(GL_BLEND);
    textureBank->bindTexture(tex3Id);
    setSphereMap(false);
    setMaterial(1.0f, 1.0f, 1.0f, 0.0f, 1.0f, 1.0f);

    glPushMatrix();  // Leaves: the tube's turn on the modelview, camera one level down.
    glRotatef(t, 0.0f, 1.0f, 0.0f);
    tube.savePositions();
    // Two waves across the axis, both strengths following the music: straight in silence.
    const float a = static_cast<float>(0.2 * t);
    tube.waveDeform(Vec3(1.0f, 0.0f, 0.0f), sinf32(a) * musicLevel * 120.0f, a, 0.2f);
    tube.waveDeform(Vec3(0.0f, 0.0f, 1.0f), cosf32(a) * musicLevel * 120.0f, a, 0.2f);
    tube.drawSolid();
    enable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);  // Leaves: additive blending on.
    tube.drawLines();
    glPopMatrix();  // Leaves: the camera's modelview.
    tube.restorePositions();

    textFont.beginText(1.0f);
    // Invisible lead-in: it takes the frame's first raster position while lighting is
    // still on, so the visible captions after it are placed unlit, in black.
    printCaption(-50.0f, 0.0f, 0.0f, "lol");

    const float creditX = static_cast<float>(0.002 * t - 1.9);
    printCaption(creditX, 0.3f, static_cast<float>(1.0 - 0.009 * t), "code:   sablenix");
    if (t > 50.0f)
        printCaption(creditX, 0.0f, static_cast<float>(1.0 - 0.009 * (t - 50.0f)), "gfx:   dorvanth");
    if (t > 100.0f)
        printCaption(creditX, -0.3f, static_cast<float>(1.0 - 0.009 * (t - 100.0f)),
                     "music:   anonymous kestrune member");

    // The greetings run on their own clock, about 200 units behind; it is advanced
    // before the first greeting line is drawn.
    if (t > 200.0f) {
        greetingsClock += frameStep;
        const float g = greetingsClock;
        const float greetX = static_cast<float>(0.002 * g - 1.9);
        printCaption(greetX, 0.6f, static_cast<float>(1.0 - 0.009 * g), "greetings to...");
        if (t > 250.0f)
            printCaption(greetX, 0.3f, static_cast<float>(1.0 - 0.009 * (g - 50.0f)), "brixel");
        if (t > 300.0f)
            printCaption(greetX, 0.1f, static_cast<float>(1.0 - 0.009 * (g - 100.0f)), "tolvane");
        if (t > 350.0f)
            printCaption(greetX, -0.1f, static_cast<float>(1.0 - 0.009 * (g - 150.0f)), "marnix");
        if (t > 400.0f)
            printCaption(greetX, -0.3f, static_cast<float>(1.0 - 0.009 * (g - 200.0f)), "kestrune");
        // Same offset as the line before: it enters at about alpha 0.55, and both vanish together.
        if (t > 450.0f)
            printCaption(greetX, -0.6f, static_cast<float>(1.0 - 0.009 * (g - 200.0f)), "plovar");
    }

    // Drawn inside the text bracket; there is no fade-out: scene 6 starts from white.
    drawSceneFadeIn(t);
    textFont.endText();
    finishScene(5);
}
