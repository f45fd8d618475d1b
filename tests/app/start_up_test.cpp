// Start-up's work while the window opens: it runs on a thread of its own that holds the
// GL context, which comes back; and the first frame's unseen warm-up changes neither the
// GL state nor a pixel of the first frame drawn after it.
#include <GL/gl.h>

#include <thread>

#include "app/demo.h"
#include "app/display.h"
#include "app/timeline.h"
#include "audio/music_player.h"
#include "tests/support/demo_data.h"
#include "tests/support/gl_snapshot.h"
#include "tests/support/gl_test.h"

namespace {

class StartUpTest : public GlTest {};

std::thread::id workThread;
int workRuns = 0;

void paintTargetBlue() {
    ++workRuns;
    workThread = std::this_thread::get_id();
    // Leaves: the clear colour opaque blue.
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

TEST_F(StartUpTest, WorkWhileTheWindowOpensRunsElsewhereWithTheContextAndHandsItBack) {
    workRuns = 0;
    showWindowWhile(paintTargetBlue);
    EXPECT_EQ(workRuns, 1);
    EXPECT_NE(workThread, std::this_thread::get_id());
    // What the work drew is here, and this thread draws again.
    EXPECT_EQ(pixelAt(320, 240), (Rgba{0, 0, 255, 255}));
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(pixelAt(320, 240), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // And again: the hand-over leaves nothing behind that a second one trips on.
    showWindowWhile(paintTargetBlue);
    EXPECT_EQ(workRuns, 2);
    EXPECT_EQ(pixelAt(0, 0), (Rgba{0, 0, 255, 255}));
}

uint64_t fakeNowMs = 0;
uint64_t fakeClock() { return fakeNowMs; }

// The warm-up draws the first frame from the state start-up leaves; the first frame is
// then drawn for real at the same clock reading (frameStep 0) and the same heard
// position. Whatever the warm-up failed to put back (the blend function scene 0's room
// lines take from the frame before, a matrix, a light) would show in that frame.
TEST_F(StartUpTest, FirstFrameWarmUpLeavesTheStateAndTheFirstFramesPixels) {
    ASSERT_TRUE(ensureDemoLoaded(true));
    clockSource = fakeClock;
    fakeNowMs = 2000;
    sceneIndex = 0;
    quitRequested = false;
    startClocks();
    musicPlayer.setListeningPosition(2 * 44100);  // on a beat: a level well above 0
    // The very first frame finds GL's initial blend function.
    glBlendFunc(GL_ONE, GL_ZERO);
    frameStep = 0.0f;
    demoTimeMs = 0.0f;
    musicLevel = 0.0f;

    GlSnapshot before = glStateSnapshot();
    warmUpFirstFrame();
    GlSnapshot after = glStateSnapshot();
    const std::vector<uint8_t> unseen = readFrame();
    EXPECT_EQ(frameStep, 0.0f);
    EXPECT_EQ(demoTimeMs, 0.0f);
    EXPECT_EQ(musicLevel, 0.0f);
    // The warm-up drew: the target no longer holds start-up's black frame.
    int lit = 0;
    for (uint8_t byte : unseen) lit += byte > 0;
    EXPECT_GT(lit, 640 * 400);
    before.erase("pixel (10, 10)");
    after.erase("pixel (10, 10)");
    for (const auto& [name, values] : before) EXPECT_EQ(after.at(name), values) << name;

    // Leaves: the render target read back as a frame is (pack alignment 1) from here on.
    renderFrame();
    const std::vector<uint8_t> first = readFrame();
    ASSERT_EQ(first.size(), unseen.size());
    int differing = 0;
    for (size_t i = 0; i < first.size(); ++i) differing += first[i] != unseen[i];
    EXPECT_EQ(differing, 0) << "bytes of the first frame the warm-up changed";
    EXPECT_GT(musicLevel, 0.02f);
    EXPECT_EQ(sceneIndex, 0);
}

}  // namespace
