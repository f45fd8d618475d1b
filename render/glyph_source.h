// Glyph bitmaps from the system's font files: fontconfig picks the face, FreeType
// rasterises it, one monochrome glyph at a time. No GL here; the caption font turns
// these bitmaps into display lists. Owns no globals.
#pragma once

// Unicode code point of a Windows-1252 (ANSI) byte. Bytes 0x80..0x9F map to their
// typographic characters (0x80 is the euro sign); the five bytes the code page leaves
// undefined, and every other byte, keep their own value.
unsigned windows1252ToUnicode(unsigned char byte);

// One rasterised glyph. `bits` stays valid until the next renderGlyph or close.
struct GlyphImage {
    int width;                  // pixels, 0 for a blank glyph
    int rows;                   // pixels, 0 for a blank glyph
    int left;                   // pixels from the pen to the bitmap's left edge
    int top;                    // pixels from the baseline up to the bitmap's top row
    int advance;                // pixels the pen moves right, hinted and rounded
    int pitch;                  // bytes from one row to the one below it
    const unsigned char* bits;  // top row first, 1 bit per pixel, leftmost pixel in the MSB
};

// A face opened at one pixel size. Plain record; the FreeType handles stay opaque here.
struct GlyphSource {
    void* library = nullptr;  // FT_Library, null while closed
    void* face = nullptr;     // FT_Face, null while closed
    char filePath[512] = {};  // the font file fontconfig chose; "" when none was found

    // Asks fontconfig for `family` (italic when `italic`, normal weight) and opens its
    // best match with an em height of `emPixels` (1..1000). The system's closest match
    // stands in for a family it lacks. Returns null on success, else a short reason;
    // a failed open leaves the source closed, with `filePath` naming the file it tried.
    const char* openFace(const char* family, bool italic, int emPixels);

    // Rasterises the glyph of a Unicode code point, hinted for monochrome output. A code
    // point the face lacks gets the face's missing-glyph shape. False when FreeType
    // cannot render it; `out` is then a blank glyph with no advance.
    bool renderGlyph(unsigned codePoint, GlyphImage& out);

    // Releases the face and the library and forgets the file. Safe on a closed source.
    void close();
    // Releases the face and the library but keeps `filePath`.
    void releaseHandles();
};
