// The caption font's two ways of drawing a line, its glyph lists and plain glBitmap calls
// from the kept bitmaps, give the same pixels and leave the same raster position.
#include <GL/gl.h>

#include <string>
#include <vector>

#include "render/bitmap_font.h"
#include "tests/support/gl_test.h"

namespace {

using PrintFn = void (BitmapFont::*)(const char*, ...);

const Color BLACK = {0, 0, 0, 1};
const Color RED = {1, 0, 0, 1};
const Color TEAL = {0.2f, 0.8f, 0.5f, 1};

// What a scenario saw after each print: raster position and colour, or 0 and zeros
// while the position is invalid (GL then keeps stale values there).
std::vector<float> rasterLog;
const size_t LOG_ENTRY = 9;  // floats per print: valid flag, position, colour

void logRaster() {
    GLfloat position[4] = {}, color[4] = {};
    GLint valid = 0;
    glGetIntegerv(GL_CURRENT_RASTER_POSITION_VALID, &valid);
    if (valid) {
        glGetFloatv(GL_CURRENT_RASTER_POSITION, position);
        glGetFloatv(GL_CURRENT_RASTER_COLOR, color);
    }
    rasterLog.push_back(static_cast<float>(valid));
    rasterLog.insert(rasterLog.end(), position, position + 4);
    rasterLog.insert(rasterLog.end(), color, color + 4);
}

// One caption line at its own anchor, at depth 1.
void line(PrintFn print, float x, float y, float alpha, Color color, const char* text) {
    textFont.setTextPosition(x, y, alpha, color);
    (textFont.*print)("%s", text);
    logRaster();
}

// Every glyph code, 32 to a line, so the Windows-1252 glyphs (128..255) are all drawn,
// after the caller left other pixel unpack settings (as an upload might).
void allCodes(PrintFn print) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 2);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_TRUE);
    textFont.beginText(1.0f);
    for (int first = 32; first < 256; first += 32) {
        char text[33] = {};
        for (int i = 0; i < 32; ++i) text[i] = static_cast<char>(first + i);
        line(print, -2.25f, 1.45f - 0.4f * static_cast<float>((first - 32) / 32), 1.0f, BLACK,
             text);
    }
    textFont.endText();
}

// Alpha fades the ink over a coloured background, including the values a fade passes
// outside 0..1; a second print carries on where the first stopped.
void alphaAndColour(PrintFn print) {
    const float alphas[] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, -0.2f, 1.3f};
    const Color colours[] = {BLACK, RED, TEAL};
    textFont.beginText(1.0f);
    for (int i = 0; i < 7; ++i)
        line(print, -2.2f + 0.05f * i, 1.5f - 0.42f * i, alphas[i], colours[i % 3],
             "Fade \xE9t\xE9 \x80 H\xE6g\xDF, gray");
    (textFont.*print)(" and %d more", 42);
    logRaster();
    textFont.endText();
}

// A position set while lighting is on takes the lit colour (pure red here); the ones
// after it their own colour argument.
void litRasterColour(PrintFn print) {
    const GLfloat none[4] = {0, 0, 0, 1}, red[4] = {1, 0, 0, 1}, white[4] = {1, 1, 1, 1};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);
    glLightfv(GL_LIGHT0, GL_AMBIENT, red);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, none);
    glLightfv(GL_LIGHT0, GL_SPECULAR, none);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);
    textFont.beginText(1.0f);
    line(print, -1.5f, 0.5f, 1.0f, TEAL, "lit by the light");
    line(print, -1.5f, 0.0f, 1.0f, TEAL, "in its own colour");
    line(print, -1.5f, -0.5f, 0.5f, BLACK, "and faded black");
    textFont.endText();
}

// Starts outside the view are skipped whole; lines running off an edge are clipped.
void offScreen(PrintFn print) {
    textFont.beginText(1.0f);
    line(print, -2.35f, 0.0f, 1.0f, BLACK, "HHHHHHHHHH");  // just left of the view
    line(print, -3.0f, -3.0f, 1.0f, BLACK, "LOALO");
    line(print, 2.1f, 0.3f, 1.0f, BLACK, "HHHHHHHHHH");      // off the right edge
    (textFont.*print)("%s", "and on beyond it");
    logRaster();
    line(print, -1.0f, 1.72f, 1.0f, RED, "\xC5ngstr\xF6m top");   // tops above the top row
    line(print, -1.0f, -1.725f, 1.0f, RED, "gjpqy bottom");  // descenders below the bottom
    textFont.endText();
    textFont.beginText(-1.0f);  // behind the eye
    line(print, 0.0f, 0.0f, 1.0f, BLACK, "HHHH");
    textFont.endText();
}

// A formatted zero byte ends the text; texts longer than 255 bytes are cut.
void zeroBytesAndCut(PrintFn print) {
    textFont.beginText(1.0f);
    textFont.setTextPosition(-2.0f, 1.0f, 1.0f, BLACK);
    (textFont.*print)("%c", 0);
    logRaster();
    (textFont.*print)("%c%s", 0, "HH");
    logRaster();
    (textFont.*print)("A%cB", 0);
    logRaster();
    (textFont.*print)("%s", "");
    logRaster();
    std::string longText;
    for (int i = 0; i < 300; ++i) longText += static_cast<char>(i == 254 ? 'W' : 'i' + i % 3);
    line(print, -2.3f, 0.0f, 1.0f, BLACK, longText.c_str());
    textFont.setTextPosition(-2.3f, -0.5f, 1.0f, BLACK);
    (textFont.*print)("%s%s", longText.c_str(), "never drawn");
    logRaster();
    textFont.endText();
}

// The running letters: one anchor per letter at a 0.17 pitch, printed through "%c".
void runningLetters(PrintFn print) {
    const char* const lines[3] = {
        "behind the stars you can find a beautiful woman with golden wings...",
        "little cat is running faster and faster, but will never reach the goal... :(",
        "fly higher fly higher.. reach for the sky! dont look at the sun, or you become blind...",
    };
    textFont.beginText(1.0f);
    for (int l = 0; l < 3; ++l)
        for (int n = 0; lines[l][n]; ++n) {
            textFont.setTextPosition(-2.1f - 0.6f * l + 0.17f * n, 0.4f - 0.5f * l, 1.0f, BLACK);
            (textFont.*print)("%c", lines[l][n]);
            logRaster();
        }
    textFont.endText();
}

class CaptionPathsTest : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        static const bool created = textFont.createFont(30);
        ASSERT_TRUE(created) << "no caption font on this machine (install fonts-liberation2)";
    }

    // The frame and raster log of one scenario drawn one way, over a coloured background.
    struct Result {
        std::vector<uint8_t> frame;
        std::vector<float> raster;
    };
    Result draw(void (*scenario)(PrintFn), PrintFn print) {
        resetGlState();
        glClearColor(0.9f, 0.7f, 0.4f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        rasterLog.clear();
        scenario(print);
        Result result{readFrame(), rasterLog};
        return result;
    }

    // Draws the scenario with the lists, then with the fast path; the read-backs must match
    // byte for byte. Returns how many pixels the lists changed, so a scenario can show it
    // drew something.
    int expectSamePixels(void (*scenario)(PrintFn)) {
        const Result background = draw([](PrintFn) {}, &BitmapFont::printText);
        const Result lists = draw(scenario, &BitmapFont::printTextWithLists);
        const Result fast = draw(scenario, &BitmapFont::printText);
        EXPECT_EQ(fast.raster, lists.raster);
        int differing = 0, firstAt = -1, inked = 0;
        for (size_t p = 0; p < lists.frame.size() / 4; ++p) {
            bool same = true, ink = false;
            for (size_t c = p * 4; c < p * 4 + 4; ++c) {
                same = same && fast.frame[c] == lists.frame[c];
                ink = ink || lists.frame[c] != background.frame[c];
            }
            if (!same && differing++ == 0) firstAt = static_cast<int>(p);
            inked += ink;
        }
        EXPECT_EQ(differing, 0) << "first at column " << firstAt % 640 << ", row "
                                << firstAt / 640 << " from the top";
        return inked;
    }
};

TEST_F(CaptionPathsTest, EveryGlyphCode) { EXPECT_GT(expectSamePixels(allCodes), 5000); }

TEST_F(CaptionPathsTest, AlphaColourAndContinuation) {
    EXPECT_GT(expectSamePixels(alphaAndColour), 3000);
}

TEST_F(CaptionPathsTest, LitRasterColour) {
    EXPECT_GT(expectSamePixels(litRasterColour), 1000);
    // The first line is red, the second teal: the rule itself held in both paths.
    ASSERT_EQ(rasterLog.size(), 3 * LOG_ENTRY);
    EXPECT_EQ(rasterLog[5], 1.0f);
    EXPECT_EQ(rasterLog[6], 0.0f);
    EXPECT_FLOAT_EQ(rasterLog[LOG_ENTRY + 5], 0.2f);
}

TEST_F(CaptionPathsTest, PartlyOffScreen) {
    EXPECT_GT(expectSamePixels(offScreen), 300);
    EXPECT_EQ(rasterLog[0], 0.0f);  // the first start was invalid
    EXPECT_EQ(rasterLog[2 * LOG_ENTRY], 1.0f);
}

TEST_F(CaptionPathsTest, ZeroBytesAndTheCut) {
    EXPECT_GT(expectSamePixels(zeroBytesAndCut), 1000);
}

TEST_F(CaptionPathsTest, RunningLetters) { EXPECT_GT(expectSamePixels(runningLetters), 3000); }

}  // namespace
