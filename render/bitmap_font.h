// Bitmap captions: glyph display lists for codes 32..255, drawn at a raster position.
// Owns the global `textFont`.
#pragma once
#include "render/color.h"

const int FIRST_GLYPH_CODE = 32;  // space
const int GLYPH_COUNT = 224;      // codes 32..255, bytes 128..255 read as Windows-1252

struct BitmapFont {
    unsigned listBase;  // display list of code 32; code c is listBase + (c - 32); 0: no font

    // Builds the 224 glyph lists from an italic serif face at an em height of `height`
    // pixels (monochrome bitmaps, origin on the baseline, each list moving the raster
    // position right by the glyph's advance). Needs the GL context current. Returns false,
    // after one line on stderr, when no font is usable; listBase is then 0 and printText
    // draws nothing.
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

    // Formats printf-style (at most 255 bytes; longer text is cut) and draws one glyph
    // list per byte from the current raster position, which ends after the last glyph.
    // An absent format, an empty text or a missing font draws nothing. No allocation.
    // Leaves: the list base as it was.
    void printText(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Pops the modelview saved by beginText.
    void endText();
};

extern BitmapFont textFont;
