// Bitmap captions: glyph display lists for codes 32..255, drawn at a raster position.
// Owns the global `textFont`.
#pragma once
#include "render/color.h"

struct BitmapFont {
    unsigned listBase;  // display list of code 32; code c is listBase + (c - 32)

    // Builds the 224 glyph lists at `height` pixels. Returns false when no font is usable.
    bool createFont(int height);
    // Pushes the modelview and places the text plane `depth` units in front of the eye.
    void beginText(float depth);
    // Sets colour and raster position, then switches to the text state.
    void setTextPosition(float x, float y, float alpha, Color color);
    // Formats printf-style (at most 255 bytes) and draws one glyph list per byte.
    void printText(const char* format, ...);
    // Pops the modelview saved by beginText.
    void endText();
};

extern BitmapFont textFont;
