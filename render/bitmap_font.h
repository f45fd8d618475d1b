// Bitmap captions: glyph display lists for codes 32..255, drawn at a raster position.
// Owns the global `textFont`.
#pragma once
#include <vector>

#include "render/color.h"

const int FIRST_GLYPH_CODE = 32;  // space
const int GLYPH_COUNT = 224;      // codes 32..255, bytes 128..255 read as Windows-1252

// One glyph as its display list draws it: the arguments of its glBitmap call.
struct FontGlyph {
    int width, rows;   // pixels; 0 for a blank glyph
    float originX;     // pixels from the bitmap's left edge to the pen (glBitmap xorig)
    float originY;     // pixels from the bitmap's bottom row up to the baseline (yorig)
    float advance;     // pixels the raster position moves right
    unsigned offset;   // first byte of its rows in BitmapFont::glyphBits
};

struct BitmapFont {
    unsigned listBase;  // display list of code 32; code c is listBase + (c - 32); 0: no font
    // The bitmaps the lists were compiled from, kept so that a caption can be drawn with
    // plain glBitmap calls: executing display lists costs far more per glyph on software
    // GL. Rows bottom-up, 4-byte aligned, most significant bit leftmost.
    FontGlyph glyphs[GLYPH_COUNT];  // code c at c - 32
    std::vector<unsigned char> glyphBits;

    // Builds the 224 glyph lists from an italic serif face at an em height of `height`
    // pixels of the 640 x 480 picture: rasterised at height x renderScale pixels of the
    // render target, rounded, with offsets and advances from that rasterisation
    // (monochrome bitmaps, origin on the baseline, each list moving the raster position
    // right by the glyph's advance). Needs the GL context current. Returns false, after
    // one line on stderr, when no font is usable; listBase is then 0 and printText draws
    // nothing.
    // Leaves: pixel unpack state at GL's initial values.
    bool createFont(int height);

    // Pushes the modelview and places the text plane `depth` units in front of the eye;
    // the camera is ignored.
    // Leaves: modelview (x, y, -depth) translation current, one level deeper on the stack.
    void beginText(float depth);

    // Current colour (color.r, color.g, color.b, alpha), then raster position (x, y) on the
    // text plane, then the text state. The raster colour is fixed by the position: with
    // lighting still on, as a lit 3D pass leaves it, the line takes the lit colour.
    // Leaves: lighting, depth test, GL_TEXTURE_2D and s/t texture generation off; blending
    // on with (SRC_ALPHA, ONE_MINUS_SRC_ALPHA).
    void setTextPosition(float x, float y, float alpha, Color color);

    // Formats printf-style (at most 255 bytes; longer text is cut) and draws the glyph of
    // each byte up to the first zero from the current raster position, which ends after
    // the last glyph. Bytes 1..31 have no glyph and draw nothing. An absent format, an
    // empty text or a missing font draws nothing. No allocation. The pixels are those of
    // the glyph lists (printTextWithLists), drawn with one glBitmap per glyph instead;
    // under plainDrawing the lists are called.
    // Leaves: pixel unpack state at GL's initial values; the list base untouched.
    void printText(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The same text drawn by calling the glyph lists, one per byte: the reference the
    // fast path above is checked and timed against.
    // Leaves: the list base as it was.
    void printTextWithLists(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Pops the modelview saved by beginText.
    void endText();
};

extern BitmapFont textFont;

// Sees every caption as it is issued, for tests that read the captions back as text:
// `position` gets each setTextPosition's arguments (called after the raster position is
// taken), `print` each formatted line before it is drawn. Null in the demo (one test of
// a pointer per call).
struct TextObserver {
    void (*position)(float x, float y, float alpha, Color color);
    void (*print)(const char* text);
};
extern TextObserver textObserver;
