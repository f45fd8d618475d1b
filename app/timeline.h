// The global timeline: frame timing, the demo clock every scene compares against,
// the music level, the scene index and the quit flag, and the table of scene ends.
// Plain code: knows neither SDL nor GL, except through the overlay calls that draw the
// white fades (drawSceneFadeIn, finishScene).
#pragma once
#include <cstdint>

extern bool quitRequested;      // ends the frame loop
extern int sceneIndex;          // 0..6, advanced by one by the scene that ends
extern float frameStep;         // ms since the previous frame / 50 (20 units a second)
extern float demoTimeMs;        // ms since the timeline started
extern float musicLevel;        // mean of spectrum values 0..39, 0..1
extern int64_t lastFrameTimeMs; // clock reading of the previous frame, ms
extern int64_t timelineStartMs; // clock reading when the timeline started, ms

// The clock seam: every millisecond reading of the frame loop goes through this.
// The demo points it at the platform clock; the capture tool at a virtual one.
using ClockSource = uint64_t (*)();
extern ClockSource clockSource;
int64_t readClockMs();

// Start-up's last step: the frame clock, then the timeline.
void startClocks();

// A pause: pauseClocks notes the clock reading, resumeClocks moves both clock marks on
// by the time since, so that neither frameStep nor demoTimeMs ever counts paused time.
void pauseClocks();
void resumeClocks();

// Frame timing: sets frameStep from the time since the previous frame, then demoTimeMs.
void advanceFrameClock();

// Mean of the first 40 values, summed in float in index order; 0 without a spectrum.
float computeMusicLevel(const float* spectrum);

// When each scene fades out and hands over, in ms on the timeline.
struct SceneTiming {
    float fadeOutStartMs;  // fade-out drawn while demoTimeMs > this
    float fadeLengthMs;    // 0: no fade-out
    float endMs;           // the scene ends in the first frame with demoTimeMs > this
};
constexpr int SCENE_COUNT = 7;
extern const SceneTiming sceneTimeline[SCENE_COUNT];

// A scene's opening white fade over its first 30 clock units (1.5 s); 2D bracket included.
void drawSceneFadeIn(float sceneClock);

// The end of every scene's render step: its white fade-out while it is due, then the
// hand-over (sceneIndex + 1, or quitRequested for the last scene) once its end is passed.
void finishScene(int index);
