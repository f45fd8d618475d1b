// The scenes' render steps with the default pictures: what the music level, the scene
// clocks and the caption thresholds do to the picture, and the state each step leaves.
// Frames are driven by hand (frameStep, musicLevel, demoTimeMs) on a real GL context.
#include <GL/gl.h>
#include <GL/glu.h>
#include <cmath>
#include <vector>

#include "app/demo.h"
#include "app/timeline.h"
#include "render/bitmap_font.h"
#include "scenes/scenes.h"
#include "texture/texture_bank.h"
#include "tests/support/demo_data.h"
#include "tests/support/gl_test.h"

namespace {

using Frame = std::vector<uint8_t>;

class SceneTest : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        ASSERT_TRUE(ensureDemoLoaded());
        ASSERT_NE(textFont.listBase, 0u) << "the caption font is needed";
    }

    // One frame as the frame loop draws it, with the timing and level set by hand.
    static void frame(void (*render)(), float step, float level = 0.0f, float timeMs = 5000.0f) {
        frameStep = step;
        musicLevel = level;
        demoTimeMs = timeMs;
        glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        render();
        drawLetterbox();
    }

    // The same frame again, once more with the font switched off (frameStep 0 keeps
    // every clock where it is): the pixels that differ are the captions' ink.
    static void captionInk(void (*render)(), float step, Frame& withText, Frame& withoutText,
                           float level = 0.0f) {
        frame(render, step, level);
        withText = readFrame();
        const unsigned base = textFont.listBase;
        textFont.listBase = 0;
        frame(render, 0.0f, level);
        textFont.listBase = base;
        withoutText = readFrame();
    }
};

// Pixels that differ inside rows [top, bottom).
int inkIn(const Frame& a, const Frame& b, int top, int bottom) {
    int count = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < 640; ++x) {
            const size_t i = (static_cast<size_t>(y) * 640 + x) * 4;
            if (a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2]) ++count;
        }
    return count;
}

// True when every differing pixel is darker with the text: black ink, never a lit colour.
bool inkIsDark(const Frame& withText, const Frame& withoutText) {
    for (size_t i = 0; i < withText.size(); i += 4)
        for (int c = 0; c < 3; ++c)
            if (withText[i + c] > withoutText[i + c]) return false;
    return true;
}

// Of the pixels that differ, how many are pure black: a caption faded below alpha 1
// leaves none, one drawn at full strength (as a lit colour would, here) many.
int blackInk(const Frame& withText, const Frame& withoutText) {
    int count = 0;
    for (size_t i = 0; i < withText.size(); i += 4) {
        const bool differs = withText[i] != withoutText[i] || withText[i + 1] != withoutText[i + 1] ||
                             withText[i + 2] != withoutText[i + 2];
        if (differs && withText[i] + withText[i + 1] + withText[i + 2] == 0) ++count;
    }
    return count;
}

// Screen row (from the top) of a caption baseline at text-plane height y, depth 1.
int captionRow(float y) { return 480 - static_cast<int>(240.0 * (1.0 + y / std::tan(M_PI / 3.0))); }

// The modelview left at the end of a render step is its camera's view.
std::vector<float> modelview() {
    std::vector<float> m(16);
    glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
    return m;
}

// Eye position in world coordinates from a look-at modelview: -R^T t.
void eyeOf(const std::vector<float>& m, float eye[3]) {
    for (int i = 0; i < 3; ++i)
        eye[i] = -(m[4 * i + 0] * m[12] + m[4 * i + 1] * m[13] + m[4 * i + 2] * m[14]);
}

TEST_F(SceneTest, Scene0SpriteFollowsTheMusicLevel) {
    // Give the sprite's picture four flat quadrants split at s = 0.75 (red | blue) and
    // t = 0.75 (no green | green), sampled nearest, so its edges can be found exactly.
    std::vector<uint8_t> pattern(64 * 64 * 4);
    for (int t = 0; t < 64; ++t)
        for (int s = 0; s < 64; ++s) {
            uint8_t* p = &pattern[(t * 64 + s) * 4];
            p[0] = s < 48 ? 255 : 0;
            p[1] = t < 48 ? 0 : 255;
            p[2] = s < 48 ? 0 : 255;
            p[3] = 255;
        }
    textureBank->bindTexture(tex2Id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 64, 64, 0, GL_RGBA, GL_UNSIGNED_BYTE, pattern.data());

    // Opaque from level 0.05 on; half-width 4L + 1 and half-height 1.4 - 2L screen halves,
    // so s = 0.75 lies at x = 320 + 160 (4L + 1) and t = 0.75 at y = 240 + 120 (1.4 - 2L).
    for (float level : {0.05f, 0.15f}) {
        frame(renderScene0, 1.0f, level);
        const int edgeX = static_cast<int>(std::lround(320 + 160 * (4 * level + 1)));
        const int edgeY = static_cast<int>(std::lround(240 + 120 * (1.4 - 2 * level)));
        EXPECT_EQ(pixelAt(edgeX - 2, 100), (Rgba{255, 0, 0, 255})) << level;
        EXPECT_EQ(pixelAt(edgeX + 2, 100), (Rgba{0, 0, 255, 255})) << level;
        EXPECT_EQ(pixelAt(100, edgeY - 2), (Rgba{255, 0, 0, 255})) << level;
        EXPECT_EQ(pixelAt(100, edgeY + 2), (Rgba{255, 255, 0, 255})) << level;
    }

    // In silence the sprite is drawn at alpha 0.5: the cubes and room show through.
    frame(renderScene0, 0.0f, 0.0f);
    const Rgba half = pixelAt(100, 100);
    EXPECT_GT(half.r, 100);
    EXPECT_LT(half.r, 255);
    EXPECT_FALSE(half == (Rgba{255, 0, 0, 255}));

    // Above 0.7 the half-height turns negative: the sprite is mirrored into a band
    // 96 rows high around the centre, its t = 0.75 edge at row 216, green above it.
    frame(renderScene0, 0.0f, 0.8f);
    EXPECT_EQ(pixelAt(100, 205), (Rgba{255, 255, 0, 255}));
    EXPECT_EQ(pixelAt(100, 225), (Rgba{255, 0, 0, 255}));
    EXPECT_NE(pixelAt(100, 150).g, 255);  // outside the band: the room, not the sprite
}

TEST_F(SceneTest, Scene1WaveNeverAccumulatesAndCaptionsAreBlack) {
    frame(renderScene1, 40.0f);  // clock 40: only "we are going to..." at alpha 0.4
    const Frame first = readFrame();
    frame(renderScene1, 0.0f);  // same clock: the same shape, not a wave on a wave
    EXPECT_TRUE(readFrame() == first);

    // The lead-in line takes the lit raster colour, so the visible caption is black.
    Frame withText, withoutText;
    captionInk(renderScene1, 0.0f, withText, withoutText);
    EXPECT_GT(inkIn(withText, withoutText, captionRow(0.0f) - 22, captionRow(0.0f) + 7), 100);
    EXPECT_EQ(inkIn(withText, withoutText, 0, captionRow(0.0f) - 30), 0);
    EXPECT_TRUE(inkIsDark(withText, withoutText));

    // "tell you a story..." shows only once the clock is past 60, its anchor at x 0.3.
    const int lower = captionRow(-0.2f);
    captionInk(renderScene1, 20.0f, withText, withoutText);  // clock 60
    EXPECT_EQ(inkIn(withText, withoutText, lower - 12, lower + 1), 0);
    captionInk(renderScene1, 0.5f, withText, withoutText);  // clock 60.5
    EXPECT_GT(inkIn(withText, withoutText, lower - 12, lower + 1), 50);
}

TEST_F(SceneTest, Scene2CameraStandsStillInSilenceAndRunsWithTheMusic) {
    frame(renderScene2, 1.0f, 0.0f);
    const std::vector<float> start = modelview();
    // With the phase at 0 the eye is at (200, -200, 0), looking at (300, -90, 0).
    glPushMatrix();
    glLoadIdentity();
    gluLookAt(200, -200, 0, 300, -90, 0, 0, 1, 0);
    const std::vector<float> expected = modelview();
    glPopMatrix();
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(start[i], expected[i], 1e-4f) << i;

    frame(renderScene2, 5.0f, 0.0f);
    EXPECT_TRUE(modelview() == start) << "the camera moved in silence";

    frame(renderScene2, 1.0f, 0.1f);
    const std::vector<float> moved = modelview();
    EXPECT_FALSE(moved == start);
    float eye[3];
    eyeOf(moved, eye);
    EXPECT_NEAR(std::hypot(eye[0], eye[2]), 200.0f, 1e-2f) << "the path keeps its radius";
    EXPECT_GT(eye[2], 0.0f);
}

TEST_F(SceneTest, Scene4CaptionsCameraAndTintsFollowTheClock) {
    // Captions: the upper line (y 0.6) and the lower (y 0.4) each show from their
    // threshold (strictly past it) and fade out 71.4 units later.
    const int upper = captionRow(0.6f), lower = captionRow(0.4f);
    struct Ink {
        float step;  // advance to this clock
        bool upperInk, lowerInk;
    } inks[] = {
        {30.5f, true, false},   // "listen carefully..." at alpha 0.57
        {29.5f, true, false},   // clock 60: the second line not yet
        {0.5f, true, true},     // 60.5: "those horses have message..."
        {11.5f, false, true},   // 72: the first line has faded out
        {48.5f, true, true},    // 120.5: "but it can only be heard..."
        {11.5f, true, false},   // 132: the second has faded out
    };
    for (const Ink& e : inks) {
        Frame withText, withoutText;
        captionInk(renderScene4, e.step, withText, withoutText);
        // Body rows of each line (between the other line's descenders and ascenders).
        EXPECT_EQ(inkIn(withText, withoutText, upper - 14, upper) > 20, e.upperInk) << e.step;
        EXPECT_EQ(inkIn(withText, withoutText, lower - 12, lower) > 20, e.lowerInk) << e.step;
        EXPECT_TRUE(inkIsDark(withText, withoutText));
    }

    struct Expect {
        float step;         // advance to this clock
        float eyeZ;         // 80 inside the shell, 280 outside
        float redOverBlue;  // the last cube drawn is even: 0.5 bright tint, 1 dark tint
        float minA, maxA;   // its ambient blue: 0.6..1 bright, 0.1..0.5 dark
    } steps[] = {
        {107.5f, 80.0f, 0.5f, 0.6f, 1.0f},  // 239.5
        {0.5f, 80.0f, 1.0f, 0.1f, 0.5f},    // exactly 240: still inside, already dark
        {0.5f, 280.0f, 1.0f, 0.1f, 0.5f},
    };
    for (const Expect& e : steps) {
        frame(renderScene4, e.step);
        float eye[3];
        eyeOf(modelview(), eye);
        EXPECT_NEAR(eye[2], e.eyeZ, 1e-3f);
        GLfloat ambient[4];
        glGetMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
        EXPECT_NEAR(ambient[0] / ambient[2], e.redOverBlue, 1e-6f);
        EXPECT_GE(ambient[2], e.minA);
        EXPECT_LE(ambient[2], e.maxA);
    }
}

TEST_F(SceneTest, Scene5GreetingsStartPast200AndTheBentTubeNeverAccumulates) {
    // The first credit is black at its own alpha (0.55 here) although the tube was lit:
    // the invisible lead-in line took the lit raster colour (opaque with this material).
    Frame withText, withoutText;
    captionInk(renderScene5, 50.0f, withText, withoutText, 0.1f);
    EXPECT_GT(inkIn(withText, withoutText, captionRow(0.3f) - 14, captionRow(0.3f)), 100);
    EXPECT_TRUE(inkIsDark(withText, withoutText));
    EXPECT_LT(blackInk(withText, withoutText), 10);

    const int greetings = captionRow(0.6f);
    captionInk(renderScene5, 150.0f, withText, withoutText, 0.1f);  // clock exactly 200
    EXPECT_EQ(inkIn(withText, withoutText, greetings - 14, greetings), 0);

    // Past 200 the greetings clock runs: "greetings to..." enters at alpha ~1.
    captionInk(renderScene5, 0.5f, withText, withoutText, 0.1f);
    EXPECT_GT(inkIn(withText, withoutText, greetings - 14, greetings), 100);

    // The same clocks give the same picture: the two waves start from the saved shape.
    frame(renderScene5, 0.0f, 0.1f);
    EXPECT_TRUE(readFrame() == withText);
}

}  // namespace
