// The frame loop's timing, hand-overs and frame composition, on a fake clock and a
// real GL context.
#include <GL/gl.h>
#include <sys/resource.h>

#include "app/demo.h"
#include "app/frame_lead.h"
#include "app/timeline.h"
#include "tests/support/demo_data.h"
#include "tests/support/gl_test.h"

namespace {

uint64_t fakeNowMs = 0;
uint64_t fakeClock() { return fakeNowMs; }

// Starts the timeline at `startMs` on the fake clock with scene 0 current.
void restartTimeline(uint64_t startMs) {
    clockSource = fakeClock;
    fakeNowMs = startMs;
    sceneIndex = 0;
    quitRequested = false;
    startClocks();
}

TEST(FrameClock, StepIsInFiftyMillisecondUnitsAndZeroWithinOneMillisecond) {
    restartTimeline(1000);
    fakeNowMs = 1100;
    advanceFrameClock();
    EXPECT_FLOAT_EQ(frameStep, 2.0f);
    EXPECT_FLOAT_EQ(demoTimeMs, 100.0f);
    advanceFrameClock();  // same millisecond
    EXPECT_EQ(frameStep, 0.0f);
    EXPECT_FLOAT_EQ(demoTimeMs, 100.0f);
    fakeNowMs = 1117;
    advanceFrameClock();
    EXPECT_FLOAT_EQ(frameStep, 17.0f / 50.0f);
}

TEST(FrameClock, PausedTimeCountsInNeitherClock) {
    restartTimeline(1000);
    fakeNowMs = 1100;
    advanceFrameClock();
    fakeNowMs = 1130;
    pauseClocks();
    fakeNowMs = 4130;
    resumeClocks();
    fakeNowMs = 4150;
    advanceFrameClock();
    EXPECT_FLOAT_EQ(frameStep, 1.0f);  // 30 ms before the pause and 20 after
    EXPECT_FLOAT_EQ(demoTimeMs, 150.0f);
}

TEST(FrameClock, ClockBeyondThirtyTwoBitsStillGivesSmallSteps) {
    restartTimeline(0x1'0000'0000ull - 10);  // where a 32-bit millisecond counter wraps
    fakeNowMs += 40;
    advanceFrameClock();
    EXPECT_FLOAT_EQ(frameStep, 0.8f);
    EXPECT_FLOAT_EQ(demoTimeMs, 40.0f);
}

TEST(MusicLevel, IsTheMeanOfTheFirstFortyValues) {
    EXPECT_EQ(computeMusicLevel(nullptr), 0.0f);
    float spectrum[512] = {};
    EXPECT_EQ(computeMusicLevel(spectrum), 0.0f);
    for (int i = 0; i < 40; ++i) spectrum[i] = 0.1f;
    for (int i = 40; i < 512; ++i) spectrum[i] = 1.0f;  // beyond the level's range
    EXPECT_NEAR(computeMusicLevel(spectrum), 0.1f, 1e-6f);
}

TEST(FrameLead, IsTheMedianOfTheRecentFramesUntouchedByOneStall) {
    constexpr int64_t MS = 1000000;
    FrameLead lead;
    EXPECT_EQ(lead.estimateNs(), 0) << "no look-ahead before the first frame";
    lead.addFrame(-5 * MS);
    EXPECT_EQ(lead.estimateNs(), 0) << "a clock that ran back counts as no time";
    for (int i = 0; i < 5; ++i) lead.addFrame(16 * MS);
    lead.addFrame(3000 * MS);
    lead.addFrame(2 * MS);
    EXPECT_EQ(lead.estimateNs(), 16 * MS);
    for (int i = 0; i < FrameLead::FRAMES - 1; ++i) lead.addFrame(8 * MS);
    EXPECT_EQ(lead.estimateNs(), 8 * MS) << "older frames are forgotten";
    for (int i = 0; i < FrameLead::FRAMES; ++i) lead.addFrame(3000 * MS);
    EXPECT_EQ(lead.estimateNs(), 100 * MS) << "no frame counts for more than 100 ms";
}

TEST(WindowMessages, EscapeAndCloseQuitSpacePausesOtherKeysDoNothing) {
    restartTimeline(0);
    playbackPaused = false;
    windowProc({WindowMessageKind::KeyDown, 'a'});
    windowProc({WindowMessageKind::KeyDown, 13});
    windowProc({WindowMessageKind::Other, 0});
    EXPECT_FALSE(quitRequested);
    EXPECT_FALSE(playbackPaused);
    windowProc({WindowMessageKind::KeyDown, ' '});
    EXPECT_TRUE(playbackPaused);
    windowProc({WindowMessageKind::KeyDown, ' '});
    EXPECT_FALSE(playbackPaused);
    EXPECT_FALSE(quitRequested);
    windowProc({WindowMessageKind::KeyDown, 27});
    EXPECT_TRUE(quitRequested);
}

class FrameTest : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        ASSERT_TRUE(ensureDemoLoaded());  // the scenes draw with the bank's pictures
    }
};

TEST_F(FrameTest, LetterboxBarsCoverThirtySixRowsTopAndBottom) {
    restartTimeline(5000);
    fakeNowMs += 12501;  // scene 0's last frame: white under its fade-out
    renderFrame();
    for (int x : {0, 320, 639}) {
        for (int y : {0, 35, 444, 479}) EXPECT_EQ(pixelAt(x, y), (Rgba{0, 0, 0, 255})) << x << "," << y;
        for (int y : {36, 240, 443}) EXPECT_EQ(pixelAt(x, y), (Rgba{255, 255, 255, 255})) << x << "," << y;
    }
    // What the bars leave for the next frame.
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLint src = 0, dst = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0], 0.0f);
    EXPECT_EQ(colour[3], 1.0f);
}

TEST_F(FrameTest, EndThresholdsAreStrictAndScenesAdvanceOnePerFrame) {
    restartTimeline(0);
    fakeNowMs = 12500;
    renderFrame();
    EXPECT_EQ(sceneIndex, 0);  // 12500 is not past the end of scene 0
    // Its last frames fade to white under the bars.
    EXPECT_EQ(pixelAt(320, 240), (Rgba{255, 255, 255, 255}));
    fakeNowMs = 12501;
    renderFrame();
    EXPECT_EQ(sceneIndex, 1);

    // After a long stall every scene still renders one frame before handing over.
    fakeNowMs = 500000;
    for (int expected = 2; expected <= 6; ++expected) {
        renderFrame();
        EXPECT_EQ(sceneIndex, expected);
        EXPECT_FALSE(quitRequested);
    }
    renderFrame();
    EXPECT_EQ(sceneIndex, 6);
    EXPECT_TRUE(quitRequested);
}

TEST_F(FrameTest, LastFrameIsFullyWhiteWithBars) {
    restartTimeline(0);
    fakeNowMs = 130000;
    for (int i = 0; i < 6; ++i) renderFrame();
    ASSERT_EQ(sceneIndex, 6);
    fakeNowMs = 143999;
    renderFrame();
    EXPECT_FALSE(quitRequested);
    fakeNowMs = 144001;
    renderFrame();
    EXPECT_TRUE(quitRequested);
    EXPECT_EQ(pixelAt(320, 240), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(pixelAt(320, 10), (Rgba{0, 0, 0, 255}));
}

TEST_F(FrameTest, FadeOutRisesLinearlyOverTheSceneAndScene5HasNone) {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    const struct {
        int scene;
        float timeMs;
        int expectedGrey;
    } cases[] = {
        {0, 10500.0f, 0},     // the comparison is strict: no fade at its start
        {0, 11500.0f, 128},   // halfway through two seconds
        {1, 24250.0f, 64},    // a quarter of one second
        {5, 124999.0f, 0},    // no fade-out
        {6, 143000.0f, 191},  // three quarters of four seconds
    };
    for (const auto& c : cases) {
        glClear(GL_COLOR_BUFFER_BIT);
        sceneIndex = c.scene;
        demoTimeMs = c.timeMs;
        finishScene(c.scene);
        EXPECT_NEAR(pixelAt(320, 240).r, c.expectedGrey, 1) << "scene " << c.scene;
        EXPECT_EQ(sceneIndex, c.scene);
    }
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
}

long minorPageFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// The software rasterizer allocates its bins and vertex copies afresh every frame. If the
// freed memory goes back to the kernel, every frame faults it in again, which cost the
// cube shell scene a tenth of its time; once the heap holds on to it, a frame of the
// shell (the busiest in allocations) should fault in next to nothing.
TEST_F(FrameTest, RepeatedFramesFaultInNoFreshMemory) {
    restartTimeline(0);
    sceneIndex = 4;
    fakeNowMs = 80000;
    auto drawFrames = [](int count) {
        for (int i = 0; i < count; ++i) {
            fakeNowMs += 17;
            renderFrame();
            glFinish();
        }
    };
    drawFrames(5);  // the first frames compile shaders and grow the heap
    const long before = minorPageFaults();
    constexpr int FRAMES = 30;
    drawFrames(FRAMES);
    const long perFrame = (minorPageFaults() - before) / FRAMES;
    EXPECT_EQ(sceneIndex, 4);
    EXPECT_LT(perFrame, 8) << "minor page faults per frame";
}

}  // namespace
