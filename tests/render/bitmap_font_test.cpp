// The caption font in a real GL context: its lists, where glyphs land, the view-volume
// rule, alpha, the raster colour, failure, and the state each call leaves.
#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "render/bitmap_font.h"
#include "tests/support/gl_test.h"

namespace {

const Color BLACK = {0, 0, 0, 1};

// Pixels of a window rectangle (rows counted upwards, as GL counts them) and the dark
// ones among them: black ink, or red ink when lit red.
struct Ink {
    int width = 0, count = 0;
    int left = 1 << 20, right = -1, bottom = 1 << 20, top = -1;  // window pixels, inclusive
    std::vector<GLubyte> rgba;
    std::vector<bool> mask;
    bool at(int x, int y) const { return mask[static_cast<size_t>(y) * width + x]; }
};

Ink inkIn(int x0, int y0, int width, int height) {
    Ink ink;
    ink.width = width;
    ink.rgba.resize(static_cast<size_t>(width) * height * 4);
    ink.mask.resize(static_cast<size_t>(width) * height);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(x0, y0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, ink.rgba.data());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (ink.rgba[(static_cast<size_t>(y) * width + x) * 4 + 1] >= 128) continue;
            ink.mask[static_cast<size_t>(y) * width + x] = true;
            ++ink.count;
            ink.left = std::min(ink.left, x0 + x);
            ink.right = std::max(ink.right, x0 + x);
            ink.bottom = std::min(ink.bottom, y0 + y);
            ink.top = std::max(ink.top, y0 + y);
        }
    return ink;
}

Ink frameInk() { return inkIn(0, 0, 640, 480); }
Ink centreInk() { return inkIn(280, 200, 140, 80); }

GLfloat rasterGet(GLenum which, int index) {
    GLfloat v[4];
    glGetFloatv(which, v);
    return v[index];
}
float rasterX() { return rasterGet(GL_CURRENT_RASTER_POSITION, 0); }

class BitmapFontTest : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        static const bool created = textFont.createFont(30);
        ASSERT_TRUE(created) << "no caption font on this machine (install fonts-liberation2)";
    }
    // Prints from the anchor (0, 0) at depth 1, which is window (320, 240): rows from 240
    // up are above the baseline. Returns how far the raster position moved, in pixels.
    float printAtCentre(const char* text, float alpha = 1.0f) {
        glClear(GL_COLOR_BUFFER_BIT);
        textFont.beginText(1.0f);
        textFont.setTextPosition(0.0f, 0.0f, alpha, BLACK);
        const float before = rasterX();
        textFont.printText("%s", text);
        const float moved = rasterX() - before;
        textFont.endText();
        return moved;
    }
};

TEST_F(BitmapFontTest, EveryCodeHasAListThatDrawsAndAdvances) {
    for (int code = 32; code <= 255; ++code) {
        SCOPED_TRACE(code);
        ASSERT_TRUE(glIsList(textFont.listBase + code - 32));
        const char text[2] = {static_cast<char>(code), 0};
        const float advance = printAtCentre(text);
        EXPECT_GT(advance, 0.0f);
        EXPECT_LT(advance, 60.0f);
        // DEL and the five bytes Windows-1252 leaves undefined get the face's missing
        // glyph, whatever that looks like.
        const bool missing = code == 0x7F || code == 0x81 || code == 0x8D || code == 0x8F ||
                             code == 0x90 || code == 0x9D;
        const bool blank = code == ' ' || code == 0xA0;  // space, no-break space
        const int ink = centreInk().count;
        EXPECT_TRUE(blank ? ink == 0 : missing || ink > 0) << ink << " dark pixels";
    }
    // A second print carries on where the first stopped.
    const float both = printAtCentre("Hx");
    textFont.beginText(1.0f);
    textFont.setTextPosition(0.0f, 0.0f, 1.0f, BLACK);
    textFont.printText("H");
    textFont.printText("x");
    EXPECT_FLOAT_EQ(rasterX() - 320.0f, both);
    textFont.endText();
}

TEST_F(BitmapFontTest, GlyphsSitOnTheBaselineInAnItalicSerifFace) {
    // A 30 px em: capitals about 20 px high, descenders 6 to 7 px deep.
    printAtCentre("Hxg");
    const Ink line = centreInk();
    EXPECT_GE(line.top, 240 + 17);
    EXPECT_LE(line.top, 240 + 22);
    EXPECT_LE(line.bottom, 240 - 5);
    EXPECT_GE(line.bottom, 240 - 9);
    EXPECT_GE(line.left, 318);
    EXPECT_LE(line.left, 324);

    printAtCentre("H");
    const Ink h = centreInk();
    EXPECT_EQ(h.bottom, 240);  // the capital stands exactly on the baseline
    // Italic: the stems lean right, so the top row starts further right than the bottom.
    auto leftmost = [&](int y) {
        int x = 0;
        while (x < h.width - 1 && !h.at(x, y - 200)) ++x;
        return x;
    };
    EXPECT_GE(leftmost(h.top - 1) - leftmost(h.bottom + 1), 3);
}

TEST_F(BitmapFontTest, AnsiBytesDrawTheirWindows1252Glyphs) {
    const float eAdvance = printAtCentre("e");
    const Ink e = centreInk();
    EXPECT_FLOAT_EQ(printAtCentre("\xE9"), eAdvance);  // e acute: the e with an accent
    const Ink eAcute = centreInk();
    EXPECT_EQ(eAcute.bottom, e.bottom);
    EXPECT_GE(eAcute.top, e.top + 4);

    printAtCentre("\x80");  // the euro sign, not the missing glyph of U+0080
    const Ink euro = centreInk();
    printAtCentre("\x81");  // undefined in the code page: the missing glyph
    EXPECT_NE(euro.mask, centreInk().mask);
}

TEST_F(BitmapFontTest, LineIsSkippedWhenItsStartIsOutsideTheView) {
    textFont.beginText(1.0f);
    // Just beyond the left edge (about -2.309 at depth 1), though most of it would show.
    textFont.setTextPosition(-2.35f, 0.0f, 1.0f, BLACK);
    textFont.printText("HHHHHHHHHH");
    textFont.setTextPosition(-3.0f, -3.0f, 1.0f, BLACK);
    textFont.printText("LOALO");
    textFont.endText();
    textFont.beginText(-1.0f);  // behind the eye
    textFont.setTextPosition(0.0f, 0.0f, 1.0f, BLACK);
    textFont.printText("HHHH");
    textFont.endText();
    EXPECT_EQ(frameInk().count, 0);

    // From x 2.1 (column about 611) the line runs off the right edge and is clipped.
    textFont.beginText(1.0f);
    textFont.setTextPosition(2.1f, 0.0f, 1.0f, BLACK);
    textFont.printText("HHHHHHHHHH");
    textFont.endText();
    const Ink clipped = frameInk();
    EXPECT_GE(clipped.left, 605);
    EXPECT_EQ(clipped.right, 639);
}

TEST_F(BitmapFontTest, EmptyAbsentOverlongAndFadedTexts) {
    // The formatted text ends at its first zero byte, whichever path draws it; even where
    // byte 0 names a real list (here the space, under a base moved up by 32).
    BitmapFont shifted = textFont;
    shifted.listBase += 32;
    for (BitmapFont* font : {&textFont, &shifted}) {
        font->beginText(1.0f);
        font->setTextPosition(0.0f, 0.0f, 1.0f, BLACK);
        font->printText("%c", 0);
        font->printTextWithLists("%c", 0);
        font->printText("%c%s", 0, "HH");
        font->printTextWithLists("%c%s", 0, "HH");
        font->printText(nullptr);
        font->printTextWithLists(nullptr);
        font->printText("\x01\t\x1F");  // control bytes have no glyph
        EXPECT_EQ(rasterX(), 320.0f);
        EXPECT_EQ(frameInk().count, 0);
        font->endText();
    }

    textFont.beginText(1.0f);
    textFont.setTextPosition(0.0f, 0.0f, 1.0f, BLACK);
    // Text is cut at 255 bytes: 300 dots move the raster position as 255 do.
    textFont.printText(".");
    const float dot = rasterX() - 320.0f;
    textFont.setTextPosition(0.0f, 0.0f, 1.0f, BLACK);
    textFont.printText("%s", std::string(300, '.').c_str());
    EXPECT_FLOAT_EQ(rasterX() - 320.0f, 255 * dot);
    textFont.endText();

    printAtCentre("HHHH", 0.0f);
    EXPECT_EQ(frameInk().count, 0);
    printAtCentre("HHHH", 0.5f);  // half-alpha black over white: mid grey at darkest
    const Ink faded = centreInk();
    const GLubyte darkest = *std::min_element(faded.rgba.begin(), faded.rgba.end());
    EXPECT_GE(darkest, 126);
    EXPECT_LE(darkest, 129);
}

TEST_F(BitmapFontTest, FirstPositionAfterALitPassTakesTheLitColour) {
    // Lighting that makes anything lit pure red.
    const GLfloat none[4] = {0, 0, 0, 1}, red[4] = {1, 0, 0, 1}, white[4] = {1, 1, 1, 1};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);
    glLightfv(GL_LIGHT0, GL_AMBIENT, red);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, none);
    glLightfv(GL_LIGHT0, GL_SPECULAR, none);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);

    textFont.beginText(1.0f);
    textFont.setTextPosition(0.0f, 0.0f, 1.0f, BLACK);
    EXPECT_FLOAT_EQ(rasterGet(GL_CURRENT_RASTER_COLOR, 0), 1.0f);
    textFont.printText("H");
    const Ink lit = centreInk();
    int notRed = 0;
    for (size_t i = 0; i < lit.mask.size(); ++i) notRed += lit.mask[i] && lit.rgba[i * 4] != 255;
    EXPECT_GT(lit.count, 0);
    EXPECT_EQ(notRed, 0);
    textFont.setTextPosition(0.0f, -0.5f, 1.0f, BLACK);
    EXPECT_FLOAT_EQ(rasterGet(GL_CURRENT_RASTER_COLOR, 0), 0.0f);
    textFont.endText();
}

TEST_F(BitmapFontTest, TextBlockRestoresModelviewAndListBase) {
    glTranslatef(5.0f, 6.0f, 7.0f);
    glListBase(7);
    textFont.beginText(2.5f);
    GLfloat inside[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, inside);
    EXPECT_FLOAT_EQ(inside[0], 1.0f);
    EXPECT_FLOAT_EQ(inside[12], 0.0f);
    EXPECT_FLOAT_EQ(inside[14], -2.5f);
    textFont.setTextPosition(0.1f, 0.2f, 0.25f, {0.5f, 0.75f, 1.0f, 0.0f});
    EXPECT_FLOAT_EQ(rasterGet(GL_CURRENT_COLOR, 3), 0.25f);  // alpha from the call
    textFont.printText("state");
    GLint value = 0;
    glGetIntegerv(GL_LIST_BASE, &value);
    EXPECT_EQ(value, 7);
    glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &value);
    EXPECT_EQ(value, 0);
    textFont.endText();
    GLfloat after[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, after);
    EXPECT_FLOAT_EQ(after[12], 5.0f);
    EXPECT_FLOAT_EQ(after[14], 7.0f);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &value);
    EXPECT_EQ(value, 1);
}

TEST_F(BitmapFontTest, RebuildingIgnoresTheCallersUnpackState) {
    printAtCentre("Hg");
    const Ink reference = centreInk();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 3);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_TRUE);
    ASSERT_TRUE(textFont.createFont(30));
    printAtCentre("Hg");
    EXPECT_EQ(centreInk().mask, reference.mask);
}

TEST_F(BitmapFontTest, WithoutAFontNothingIsDrawn) {
    // A system where fontconfig knows no font at all.
    const std::string config = ::testing::TempDir() + "velmora-no-fonts.conf";
    FILE* f = std::fopen(config.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("<fontconfig/>\n", f);
    std::fclose(f);
    setenv("FONTCONFIG_FILE", config.c_str(), 1);
    BitmapFont none{};
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(none.createFont(30));
    const std::string message = ::testing::internal::GetCapturedStderr();
    unsetenv("FONTCONFIG_FILE");
    std::remove(config.c_str());
    EXPECT_EQ(none.listBase, 0u);
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;

    // With list base 0 its glyph names would be 1..223: make each of them a list that
    // draws, as the real font's lists or another user's would.
    const std::vector<GLubyte> block(8 * 4, 0xFF);  // 8 x 8 pixels, rows 4-byte aligned
    std::vector<GLuint> added;
    for (GLuint name = 1; name <= 223; ++name) {
        if (glIsList(name)) continue;
        glNewList(name, GL_COMPILE);
        glBitmap(8, 8, 0, 0, 9, 0, block.data());
        glEndList();
        added.push_back(name);
    }
    none.beginText(1.0f);
    none.setTextPosition(0.0f, 0.0f, 1.0f, BLACK);
    for (int code = 33; code <= 255; ++code) none.printText("%c", code);
    none.endText();
    EXPECT_EQ(frameInk().count, 0);
    for (GLuint name : added) glDeleteLists(name, 1);
}

}  // namespace
