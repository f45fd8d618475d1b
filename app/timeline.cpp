// Timeline globals, frame timing, the music level and the scene hand-overs.
#include "app/timeline.h"

#include "render/overlay.h"

bool quitRequested = false;
int sceneIndex = 0;
float frameStep = 0.0f;
float demoTimeMs = 0.0f;
float musicLevel = 0.0f;
int64_t lastFrameTimeMs = 0;
int64_t timelineStartMs = 0;

ClockSource clockSource = nullptr;

namespace {
int64_t pausedAtMs = 0;  // clock reading when the demo was paused
}  // namespace

const SceneTiming sceneTimeline[SCENE_COUNT] = {
    {10500.0f, 2000.0f, 12500.0f},  {24000.0f, 1000.0f, 25000.0f},
    {61000.0f, 2000.0f, 63000.0f},  {74000.0f, 1000.0f, 75000.0f},
    {99000.0f, 1000.0f, 100000.0f}, {0.0f, 0.0f, 125000.0f},
    {140000.0f, 4000.0f, 144000.0f},
};

int64_t readClockMs() { return static_cast<int64_t>(clockSource()); }

void startClocks() {
    lastFrameTimeMs = readClockMs();
    timelineStartMs = readClockMs();
}

void pauseClocks() { pausedAtMs = readClockMs(); }

void resumeClocks() {
    const int64_t pausedMs = readClockMs() - pausedAtMs;
    lastFrameTimeMs += pausedMs;
    timelineStartMs += pausedMs;
}

void advanceFrameClock() {
    const int64_t now = readClockMs();
    const float step = static_cast<float>(now - lastFrameTimeMs);
    frameStep = step / 50.0f;
    lastFrameTimeMs = now;
    demoTimeMs = static_cast<float>(readClockMs() - timelineStartMs);
}

float computeMusicLevel(const float* spectrum) {
    if (!spectrum) return 0.0f;
    float level = 0.0f;
    for (int i = 0; i < 40; ++i) level += spectrum[i];
    return level / 40.0f;
}

void drawSceneFadeIn(float sceneClock) {
    overlay.begin2D();
    overlay.drawFade(1.0f, 1.0f, 1.0f, (30.0f - sceneClock) / 30.0f);
    overlay.end2D();
}

void finishScene(int index) {
    const SceneTiming& timing = sceneTimeline[index];
    if (timing.fadeLengthMs > 0.0f && demoTimeMs > timing.fadeOutStartMs) {
        overlay.begin2D();
        overlay.drawFade(1.0f, 1.0f, 1.0f, (demoTimeMs - timing.fadeOutStartMs) / timing.fadeLengthMs);
        overlay.end2D();
    }
    if (demoTimeMs > timing.endMs) {
        if (index == SCENE_COUNT - 1)
            quitRequested = true;
        else
            sceneIndex += 1;
    }
}
