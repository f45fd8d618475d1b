// Scene 0's render step at music levels the default track never reaches (silence, a
// level that mirrors the sprite), driven by hand (frameStep, musicLevel, demoTimeMs) on
// a real GL context. The scenes as the demo runs them are held to their reference frames,
// captions and drawing state by tests/frames.
#include <GL/gl.h>
#include <cmath>
#include <vector>

#include "app/demo.h"
#include "app/timeline.h"
#include "scenes/scenes.h"
#include "texture/texture_bank.h"
#include "tests/support/demo_data.h"
#include "tests/support/gl_test.h"

namespace {

class SceneTest : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        ASSERT_TRUE(ensureDemoLoaded());
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
};

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

}  // namespace
