// Scene 6. Owns its scene clock.
#include "app/timeline.h"
#include "scenes/scenes.h"

namespace {
float sceneClock = 0.0f;  // sum of frameStep over the frames this scene has rendered
}

void setupScene6() {}

void renderScene6() {
    sceneClock += frameStep;
    drawSceneFadeIn(sceneClock);
    finishScene(6);
}
