// Scene 0. Owns its scene clock.
#include "app/timeline.h"
#include "scenes/scenes.h"

namespace {
float sceneClock = 0.0f;  // sum of frameStep over the frames this scene has rendered
}

void setupScene0() {}

void renderScene0() {
    sceneClock += frameStep;
    finishScene(0);
}
