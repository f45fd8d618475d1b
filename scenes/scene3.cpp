// Scene 3. Owns its scene clock.
#include "app/timeline.h"
#include "scenes/scenes.h"

namespace {
float sceneClock = 0.0f;  // sum of frameStep over the frames this scene has rendered
}

void setupScene3() {}

void renderScene3() {
    sceneClock += frameStep;
    drawSceneFadeIn(sceneClock);
    finishScene(3);
}
