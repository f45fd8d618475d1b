// The demo's frames over the whole timeline with the default pictures and music, on a
// fake clock: the GL state every frame starts from, the white hand-over frames, no heap
// allocation while a frame renders, and the same frames in every pass of a looping demo,
// paused or not.
#include <GL/gl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "app/demo.h"
#include "app/timeline.h"
#include "audio/music_player.h"
#include "render/render_state.h"
#include "scenes/scenes.h"
#include "tests/support/demo_data.h"
#include "tests/support/gl_test.h"

namespace {
std::atomic<bool> countingAllocations{false};
std::atomic<long> allocations{0};
}  // namespace

// GCC cannot see that these replace the global pair, so it flags malloc/free as mismatched.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
// Every C++ allocation of the program passes here; counted only while a frame renders.
void* operator new(std::size_t size) {
    if (countingAllocations.load(std::memory_order_relaxed)) allocations.fetch_add(1);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

uint64_t fakeNowMs = 0;
uint64_t fakeClock() { return fakeNowMs; }

class TimelineRunTest : public GlTest {};

// The state the letterbox bars leave and every frame after the first starts from.
void expectFrameStartState(int frame) {
    SCOPED_TRACE(::testing::Message() << "before frame " << frame << ", scene " << sceneIndex);
    for (GLenum cap : {GL_DEPTH_TEST, GL_CULL_FACE, GL_LIGHTING, GL_BLEND, GL_TEXTURE_2D})
        EXPECT_FALSE(glIsEnabled(cap)) << std::hex << cap;
    GLint value = 0;
    glGetIntegerv(GL_BLEND_SRC, &value);
    EXPECT_EQ(value, GL_SRC_ALPHA);
    glGetIntegerv(GL_BLEND_DST, &value);
    EXPECT_EQ(value, GL_ONE);
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0] + colour[1] + colour[2], 0.0f);
    EXPECT_EQ(colour[3], 1.0f);
    glGetIntegerv(GL_MATRIX_MODE, &value);
    EXPECT_EQ(value, GL_MODELVIEW);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &value);
    EXPECT_EQ(value, 1) << "a push without its pop";
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &value);
    EXPECT_EQ(value, 1);
    glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &value);
    EXPECT_EQ(value, 0);
}

// Rows 36..443, between the bars, are all white.
void expectWhiteBetweenBars(const char* what) {
    const std::vector<uint8_t> frame = readFrame();
    int darker = 0;
    for (size_t y = 36; y < 444; ++y)
        for (size_t x = 0; x < 640; ++x)
            for (int c = 0; c < 3; ++c)
                if (frame[(y * 640 + x) * 4 + c] != 255) ++darker;
    EXPECT_EQ(darker, 0) << what;
}

TEST_F(TimelineRunTest, EveryFrameStartsCleanHandOversAreWhiteAndNothingIsAllocated) {
    ASSERT_TRUE(ensureDemoLoaded(true));

    clockSource = fakeClock;
    // Two passes over the last seconds of every scene: the first lets the renderer build
    // what it caches, the second counts allocations.
    for (int pass = 0; pass < 2; ++pass) {
        const float secondsPerScene = pass == 0 ? 0.5f : 3.0f;
        fakeNowMs = 0;
        sceneIndex = 0;
        quitRequested = false;
        startClocks();
        allocations = 0;
        int frame = 0;
        for (int scene = 0; scene < SCENE_COUNT && !quitRequested; ++scene) {
            const float startMs = sceneTimeline[scene].endMs - 1000.0f * secondsPerScene;
            if (fakeNowMs < startMs) fakeNowMs = static_cast<uint64_t>(startMs);
            int frameInScene = 0;
            while (sceneIndex == scene && !quitRequested) {
                if (frame > 0) expectFrameStartState(frame);
                fakeNowMs = static_cast<uint64_t>(fakeNowMs + (frameInScene % 3 == 2 ? 17 : 16));
                musicPlayer.setListeningPosition(static_cast<int64_t>(fakeNowMs) * 441 / 10);
                countingAllocations = pass == 1;
                renderFrame();
                countingAllocations = false;
                ++frame;
                ++frameInScene;
            }
            // Scene 5 has no fade-out: scene 6 starts from white with its own fade-in.
            if (scene != 5) expectWhiteBetweenBars("a scene's last frame");
            if (pass == 1) {
                EXPECT_GE(frameInScene, 170);
            }
        }
        EXPECT_TRUE(quitRequested);
        if (pass == 1) {
            EXPECT_EQ(allocations.load(), 0) << "heap allocations while frames rendered";
        }
    }
}

// The faster ways to the same pixels (array overlays, arrays left bound, transparent
// quads skipped, direct glyph bitmaps) against the plain forms of the same operations,
// frame by frame through every scene: each sampled frame is drawn the fast way, then
// again at the same clock reading (no time passes, so every scene clock stands still)
// the plain way, and the two read-backs must be identical.
TEST_F(TimelineRunTest, FastDrawingGivesThePlainFormsPixelsInEveryScene) {
    ASSERT_TRUE(ensureDemoLoaded(true));
    clockSource = fakeClock;
    fakeNowMs = 0;
    sceneIndex = 0;
    quitRequested = false;
    startClocks();
    renderFrame();  // the very first frame draws with GL's initial blend function, once

    int compared = 0;
    float sceneStartMs = 0.0f;
    for (int scene = 0; scene < SCENE_COUNT; ++scene) {
        const float endMs = sceneTimeline[scene].endMs;
        for (int i = 1; i <= 11; ++i) {
            fakeNowMs = static_cast<uint64_t>(sceneStartMs + (endMs - sceneStartMs) * i / 12.0f);
            musicPlayer.setListeningPosition(static_cast<int64_t>(fakeNowMs) * 441 / 10);
            ASSERT_EQ(sceneIndex, scene);
            renderFrame();
            const std::vector<uint8_t> fast = readFrame();
            plainDrawing = true;
            renderFrame();  // same clock reading: frameStep 0
            plainDrawing = false;
            const std::vector<uint8_t> plain = readFrame();
            EXPECT_TRUE(fast == plain) << "scene " << scene << " at " << fakeNowMs << " ms";
            ++compared;
        }
        // On to the next scene: one frame just past this one's end hands over.
        fakeNowMs = static_cast<uint64_t>(endMs) + 1;
        renderFrame();
        sceneStartMs = endMs;
        if (quitRequested) break;
    }
    EXPECT_EQ(compared, 77);
}

// Three passes over the whole demo at 2 frames a second, listening to the music at each
// frame's demo time. The first starts from the state start-up leaves; the second and the
// third follow startNextPass, as a looping demo's do, and the third is paused with Space
// for three seconds of clock part-way between frames: in scene 0, just before scene 2
// hands over and just before the demo's last frame. Every frame of the later passes must
// be the first pass's frame at the same demo time, and neither the restarts, the pauses
// nor their frames may allocate.
TEST_F(TimelineRunTest, EveryPassAndEveryPausedPassRendersTheFirstPassesFrames) {
    ASSERT_TRUE(ensureDemoLoaded(true));
    // The first pass from the state start-up leaves: the scenes as their set-ups left
    // them (earlier tests in this program may have run them on) and GL's initial blend
    // function, which the very first frame finds.
    for (void (*restart)() : {restartScene0, restartScene1, restartScene2, restartScene3, restartScene4,
                              restartScene5, restartScene6})
        restart();
    glBlendFunc(GL_ONE, GL_ZERO);
    clockSource = fakeClock;
    fakeNowMs = 1000;
    sceneIndex = 0;
    quitRequested = false;
    playbackPaused = false;
    startClocks();

    const int64_t FRAME_MS = 500;
    const int64_t pausesBefore[] = {5000, 63500, 144500};  // demo time of the frame after the pause
    struct Frame {
        uint64_t checksum;
        int scene;
    };
    std::vector<Frame> firstPass;
    for (int pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(::testing::Message() << "pass " << pass);
        allocations = 0;
        if (pass > 0) {
            countingAllocations = true;
            startNextPass();
            countingAllocations = false;
        }
        const uint64_t passStartMs = fakeNowMs;
        uint64_t pausedMs = 0;
        int pauses = 0;
        size_t n = 0;
        for (; !quitRequested; ++n) {
            const int64_t demoMs = static_cast<int64_t>(n + 1) * FRAME_MS;
            if (pass == 2 && std::find(std::begin(pausesBefore), std::end(pausesBefore), demoMs) !=
                                 std::end(pausesBefore)) {
                countingAllocations = true;
                fakeNowMs += 40;
                windowProc({WindowMessageKind::KeyDown, ' '});
                EXPECT_TRUE(playbackPaused);
                fakeNowMs += 3000;
                pausedMs += 3000;
                windowProc({WindowMessageKind::KeyDown, ' '});
                countingAllocations = false;
                EXPECT_FALSE(playbackPaused);
                ++pauses;
            }
            fakeNowMs = passStartMs + pausedMs + static_cast<uint64_t>(demoMs);
            musicPlayer.setListeningPosition(demoMs * 441 / 10);
            const int scene = sceneIndex;
            countingAllocations = pass > 0;
            renderFrame();
            countingAllocations = false;
            ASSERT_EQ(demoTimeMs, static_cast<float>(demoMs));
            const std::vector<uint8_t> pixels = readFrame();
            uint64_t checksum = 14695981039346656037ull;
            for (uint8_t byte : pixels) checksum = (checksum ^ byte) * 1099511628211ull;
            if (pass == 0) {
                firstPass.push_back({checksum, scene});
                continue;
            }
            ASSERT_LT(n, firstPass.size()) << "the pass runs past the first one's end";
            EXPECT_EQ(scene, firstPass[n].scene) << "at " << demoMs << " ms";
            EXPECT_EQ(checksum, firstPass[n].checksum) << "frame at " << demoMs << " ms, scene " << scene;
        }
        EXPECT_EQ(n, firstPass.size());
        if (pass == 2) {
            EXPECT_EQ(pauses, 3);
        }
        if (pass > 0) {
            EXPECT_EQ(allocations.load(), 0) << "heap allocations in a later pass";
        }
    }
    // Every scene had frames of its own.
    for (int scene = 0; scene < SCENE_COUNT; ++scene)
        EXPECT_GT(std::count_if(firstPass.begin(), firstPass.end(),
                                [&](const Frame& f) { return f.scene == scene; }),
                  20)
            << "scene " << scene;
}

}  // namespace
