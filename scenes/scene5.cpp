// Scene 5. Owns its scene clock.
#include "app/timeline.h"
#include "scenes/scenes.h"

namespace {
float sceneClock = 0.0f;  // sum of frameStep over the frames this scene has rendered
}

void setupScene5() {}

void renderScene5() {
    sceneClock += frameStep;
    drawSceneFadeIn(sceneClock);
    finishScene(5);
}
