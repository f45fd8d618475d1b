// The 2D bracket, fades and sprites, read back from a real GL context.
#include <GL/gl.h>

#include <algorithm>
#include <vector>

#include "render/overlay.h"
#include "tests/support/gl_test.h"

namespace {

GLint blendFunc(GLenum which) {
    GLint value = 0;
    glGetIntegerv(which, &value);
    return value;
}

void expectMatrixEq(GLenum which, const GLfloat* expected) {
    GLfloat m[16];
    glGetFloatv(which, m);
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(m[i], expected[i]) << "element " << i;
}

Sprite plainSprite(float x, float y, float sizeX, float sizeY, float angle, Color color) {
    Sprite s{};
    s.x = x;
    s.y = y;
    s.sizeX = sizeX;
    s.sizeY = sizeY;
    s.angle = angle;
    s.alphaBlend = true;
    s.color = color;
    return s;
}

class OverlayTest : public GlTest {};

TEST_F(OverlayTest, FadeLeavesBlendingOnAndEverythingElseOff) {
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    overlay.begin2D();
    overlay.drawFade(0.25f, 0.5f, 0.75f, 1.0f);
    overlay.end2D();

    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(blendFunc(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(blendFunc(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[0], 0.25f);
    EXPECT_FLOAT_EQ(colour[3], 1.0f);
    // An opaque fade covers every pixel, corners included.
    EXPECT_EQ(pixelAt(0, 0), (Rgba{64, 128, 191, 255}));
    EXPECT_EQ(pixelAt(639, 479), (Rgba{64, 128, 191, 255}));
}

TEST_F(OverlayTest, FadeAlphaOutsideRangeIsClamped) {
    overlay.begin2D();
    overlay.drawFade(0.0f, 0.0f, 0.0f, -0.5f);  // a fade-in that is over
    overlay.end2D();
    EXPECT_EQ(pixelAt(320, 240), (Rgba{255, 255, 255, 255}));
    overlay.begin2D();
    overlay.drawFade(0.0f, 0.0f, 0.0f, 1.02f);  // a fade-out's last frame
    overlay.end2D();
    EXPECT_EQ(pixelAt(320, 240), (Rgba{0, 0, 0, 255}));
}

TEST_F(OverlayTest, SpriteLeavesBlendingOffWithAdditiveFunction) {
    glEnable(GL_BLEND);
    Sprite s = plainSprite(0, 0, 0.5f, 0.5f, 0, {0.2f, 0.4f, 0.6f, 0.0f});
    s.textured = true;
    overlay.begin2D();
    s.drawSprite(0.75f);
    overlay.end2D();

    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(blendFunc(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(blendFunc(GL_BLEND_DST), GL_ONE);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[2], 0.6f);
    EXPECT_FLOAT_EQ(colour[3], 0.75f);  // alpha from the call, not from `color`

    s.textured = false;
    overlay.begin2D();
    s.drawSprite(1.0f);
    overlay.end2D();
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
}

TEST_F(OverlayTest, FullSpriteCoversExactlyTheScreen) {
    overlay.begin2D();
    plainSprite(0, 0, 1, 1, 0, {0, 0, 0, 0}).drawSprite(1.0f);
    overlay.end2D();
    for (int x : {0, 639})
        for (int y : {0, 479}) EXPECT_EQ(pixelAt(x, y), (Rgba{0, 0, 0, 255})) << x << "," << y;

    // Half size: exactly the middle quarter (160..479 x 120..359).
    glClear(GL_COLOR_BUFFER_BIT);
    overlay.begin2D();
    plainSprite(0, 0, 0.5f, 0.5f, 0, {0, 0, 0, 0}).drawSprite(1.0f);
    overlay.end2D();
    EXPECT_EQ(pixelAt(160, 120).r, 0);
    EXPECT_EQ(pixelAt(479, 359).r, 0);
    EXPECT_EQ(pixelAt(159, 240).r, 255);
    EXPECT_EQ(pixelAt(480, 240).r, 255);
    EXPECT_EQ(pixelAt(320, 119).r, 255);
    EXPECT_EQ(pixelAt(320, 360).r, 255);
}

TEST_F(OverlayTest, RotatedSpriteSwingsAboutTopLeftCorner) {
    // A 100 x 40 quad centred at (370, -20): right of the origin, just above the screen.
    Sprite s = plainSprite(370.0f / 320 - 1, -20.0f / 240 - 1, 50.0f / 320, 20.0f / 240, 0,
                           {0, 0, 0, 0});
    overlay.begin2D();
    s.drawSprite(1.0f);
    overlay.end2D();
    EXPECT_EQ(pixelAt(20, 370).r, 255);
    EXPECT_EQ(pixelAt(370, 0).r, 255);

    // Turned 90 degrees clockwise about (0, 0) it lies below the origin, along the left
    // edge: x 0..40, y 320..420.
    s.angle = 90.0f;
    overlay.begin2D();
    s.drawSprite(1.0f);
    overlay.end2D();
    EXPECT_EQ(pixelAt(20, 370).r, 0);
    EXPECT_EQ(pixelAt(0, 321).r, 0);
    EXPECT_EQ(pixelAt(39, 419).r, 0);
    EXPECT_EQ(pixelAt(20, 310).r, 255);
    EXPECT_EQ(pixelAt(20, 430).r, 255);
    EXPECT_EQ(pixelAt(50, 370).r, 255);
}

TEST_F(OverlayTest, AdditiveSpriteOnlyBrightens) {
    glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    Sprite s = plainSprite(0, 0, 1, 1, 0, {0, 0, 0, 0});
    s.alphaBlend = false;
    overlay.begin2D();
    s.drawSprite(1.0f);
    overlay.end2D();
    EXPECT_EQ(pixelAt(320, 240), (Rgba{128, 128, 128, 255}));  // black adds nothing

    s.color = {1, 1, 1, 0};
    overlay.begin2D();
    s.drawSprite(0.25f);
    overlay.end2D();
    EXPECT_EQ(pixelAt(320, 240).r, 128 + 64);
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
}

TEST_F(OverlayTest, End2DRestoresModelviewAndPerspective) {
    glTranslatef(1.0f, 2.0f, 3.0f);
    glRotatef(30.0f, 0.0f, 1.0f, 0.0f);
    GLfloat modelview[16], projection[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);

    overlay.begin2D();
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    // Inside the bracket one unit is one pixel with y downwards: (640, 480) maps to (1, -1).
    GLfloat ortho[16];
    glGetFloatv(GL_PROJECTION_MATRIX, ortho);
    EXPECT_FLOAT_EQ(ortho[0] * 640 + ortho[12], 1.0f);
    EXPECT_FLOAT_EQ(ortho[5] * 480 + ortho[13], -1.0f);
    overlay.end2D();

    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    expectMatrixEq(GL_MODELVIEW_MATRIX, modelview);
    expectMatrixEq(GL_PROJECTION_MATRIX, projection);
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);
}

// A busy background: a colour gradient with a translucent alpha channel.
void drawBackground() {
    glClearColor(0.2f, 0.4f, 0.6f, 0.5f);
    glClear(GL_COLOR_BUFFER_BIT);
    overlay.begin2D();
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glBegin(GL_QUADS);
    glColor4f(1.0f, 0.0f, 0.3f, 0.2f);
    glVertex2i(0, 0);
    glColor4f(0.0f, 1.0f, 0.6f, 0.9f);
    glVertex2i(640, 0);
    glColor4f(0.1f, 0.2f, 1.0f, 0.6f);
    glVertex2i(640, 480);
    glColor4f(0.9f, 0.8f, 0.1f, 1.0f);
    glVertex2i(0, 480);
    glEnd();
    overlay.end2D();
}

struct AfterDraw {
    std::vector<uint8_t> pixels;
    GLfloat colour[4], texCoord[4];
    GLint src, dst;
    GLboolean blend, texture, depth, cull, lighting;
    bool operator==(const AfterDraw& o) const {
        return pixels == o.pixels && std::equal(colour, colour + 4, o.colour) &&
               std::equal(texCoord, texCoord + 4, o.texCoord) && src == o.src && dst == o.dst &&
               blend == o.blend && texture == o.texture && depth == o.depth && cull == o.cull &&
               lighting == o.lighting;
    }
};

AfterDraw afterDraw() {
    AfterDraw a{};
    a.pixels = readFrame();
    glGetFloatv(GL_CURRENT_COLOR, a.colour);
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, a.texCoord);
    a.src = blendFunc(GL_BLEND_SRC);
    a.dst = blendFunc(GL_BLEND_DST);
    a.blend = glIsEnabled(GL_BLEND);
    a.texture = glIsEnabled(GL_TEXTURE_2D);
    a.depth = glIsEnabled(GL_DEPTH_TEST);
    a.cull = glIsEnabled(GL_CULL_FACE);
    a.lighting = glIsEnabled(GL_LIGHTING);
    return a;
}

// The quad a sprite or fade would draw, issued whatever its alpha: the reference that
// the skipped draws of fully transparent ones must match.
void drawQuadAnyway(const Sprite& s, float alpha) {
    const float cx = (s.x + 1.0f) * 320.0f, cy = (s.y + 1.0f) * 240.0f;
    const float hx = 320.0f * s.sizeX, hy = 240.0f * s.sizeY;
    glColor4f(s.color.r, s.color.g, s.color.b, alpha);
    glPushMatrix();
    glRotatef(s.angle, 0.0f, 0.0f, 1.0f);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(cx - hx, cy - hy);
    glTexCoord2f(s.repeatU, 0.0f);
    glVertex2f(cx + hx, cy - hy);
    glTexCoord2f(s.repeatU, s.repeatV);
    glVertex2f(cx + hx, cy + hy);
    glTexCoord2f(0.0f, s.repeatV);
    glVertex2f(cx - hx, cy + hy);
    glEnd();
    glPopMatrix();
}

TEST_F(OverlayTest, TransparentFadesAndSpritesLeaveWhatTheirQuadsWould) {
    std::vector<uint8_t> texels(16 * 16 * 4);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = static_cast<uint8_t>(i * 37);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 16, 16, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());

    for (float alpha : {0.0f, -0.4f, -1e-7f, 0.01f}) {  // the last one is drawn
        // Fades.
        drawBackground();
        overlay.begin2D();
        overlay.drawFade(1.0f, 1.0f, 1.0f, alpha);
        overlay.end2D();
        const AfterDraw skipped = afterDraw();
        drawBackground();
        overlay.begin2D();
        glEnable(GL_BLEND);  // the state a fade sets before its quad
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glDisable(GL_LIGHTING);
        glDisable(GL_TEXTURE_2D);
        glColor4f(1.0f, 1.0f, 1.0f, alpha);
        glBegin(GL_QUADS);
        glVertex2i(0, 0);
        glVertex2i(640, 0);
        glVertex2i(640, 480);
        glVertex2i(0, 480);
        glEnd();
        overlay.end2D();
        EXPECT_TRUE(skipped == afterDraw()) << "fade at alpha " << alpha;

        // Sprites: textured or not, blended or additive, turned and tiled.
        for (int variant = 0; variant < 4; ++variant) {
            Sprite s = plainSprite(0.1f, -0.2f, 4.5f, 4.5f, 33.0f, Color{0.9f, 0.8f, 0.7f, 1.0f});
            s.textured = variant & 1;
            s.alphaBlend = variant & 2;
            s.repeatU = s.repeatV = 7.5f;
            glBindTexture(GL_TEXTURE_2D, texture);
            drawBackground();
            overlay.begin2D();
            s.drawSprite(alpha);
            overlay.end2D();
            const AfterDraw skippedSprite = afterDraw();

            drawBackground();
            overlay.begin2D();
            glDisable(GL_DEPTH_TEST);  // the state a sprite sets before its quad
            glDisable(GL_CULL_FACE);
            glDisable(GL_LIGHTING);
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, s.alphaBlend ? GL_ONE_MINUS_SRC_ALPHA : GL_ONE);
            s.textured ? glEnable(GL_TEXTURE_2D) : glDisable(GL_TEXTURE_2D);
            drawQuadAnyway(s, alpha);
            glDisable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE);
            overlay.end2D();
            EXPECT_TRUE(skippedSprite == afterDraw()) << "sprite variant " << variant << " at alpha " << alpha;
        }
    }
    glDeleteTextures(1, &texture);
}

}  // namespace
