// Bitmap captions: one display list per character code, each a glBitmap of the glyph
// from the system's italic serif face. Owns the global `textFont`.
#include "render/bitmap_font.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/display.h"
#include "render/glyph_source.h"
#include "render/render_state.h"

BitmapFont textFont;
TextObserver textObserver{nullptr, nullptr};

namespace {

// The face the captions were designed with; fontconfig supplies its closest match.
const char* const CAPTION_FAMILY = "Times New Roman";

const int TEXT_BUFFER_SIZE = 256;  // bytes, terminating zero included

// Bytes per row of a glBitmap image under GL's initial unpack alignment of 4.
int bitmapStride(int width) { return (width + 31) / 32 * 4; }

// Keeps one glyph's bitmap in `font` in the form glBitmap wants (rows bottom-up, padded
// to the initial unpack alignment) and compiles it into list `list`: the bitmap's origin
// sits on the baseline at the raster position, and the raster position moves right by
// the advance.
void keepAndCompileGlyph(BitmapFont& font, int code, unsigned list, const GlyphImage& glyph) {
    FontGlyph& kept = font.glyphs[code - FIRST_GLYPH_CODE];
    kept.width = glyph.width;
    kept.rows = glyph.rows;
    kept.originX = static_cast<float>(-glyph.left);
    kept.originY = static_cast<float>(glyph.rows - glyph.top);
    kept.advance = static_cast<float>(glyph.advance);
    kept.offset = static_cast<unsigned>(font.glyphBits.size());
    const int stride = bitmapStride(glyph.width);
    const int rowBytes = (glyph.width + 7) / 8;
    font.glyphBits.resize(font.glyphBits.size() + static_cast<size_t>(stride) * glyph.rows, 0);
    unsigned char* bottomUp = font.glyphBits.data() + kept.offset;
    for (int row = 0; row < glyph.rows; ++row)
        std::memcpy(bottomUp + static_cast<size_t>(glyph.rows - 1 - row) * stride,
                    glyph.bits + static_cast<long>(row) * glyph.pitch, rowBytes);
    // Leaves: no list open. glBitmap is only compiled here; the list keeps its own copy.
    glNewList(list, GL_COMPILE);
    glBitmap(kept.width, kept.rows, kept.originX, kept.originY, kept.advance, 0.0f,
             kept.width && kept.rows ? bottomUp : nullptr);
    glEndList();
}

// The unpack settings the glyph bitmaps are laid out for.
// Leaves: pixel unpack state at GL's initial values (rows 4-byte aligned, no row length
// or skips, no byte swap, most significant bit leftmost).
void setInitialUnpackState() {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
}

// Formats into `text` (TEXT_BUFFER_SIZE bytes) and returns the length of the formatted
// text: the bytes before its first zero, so "%c" with 0 gives an empty text.
int formatText(char* text, const char* format, va_list args) {
    if (std::vsnprintf(text, TEXT_BUFFER_SIZE, format, args) < 0) return 0;
    return static_cast<int>(std::strlen(text));
}

// One glyph list per byte of `text`, from the current raster position.
// Leaves: list base restored by the pop; raster position after the last glyph (or where
// it was, if it is invalid).
void callGlyphLists(unsigned listBase, const char* text, int length) {
    glPushAttrib(GL_LIST_BIT);
    glListBase(listBase - FIRST_GLYPH_CODE);
    glCallLists(length, GL_UNSIGNED_BYTE, text);
    glPopAttrib();
}

}  // namespace

bool BitmapFont::createFont(int height) {
    // Leaves: the lists of an earlier build freed.
    if (listBase != 0) glDeleteLists(listBase, GLYPH_COUNT);
    listBase = 0;
    glyphBits.clear();

    // The face rasterised afresh at the render scale, offsets and advances included, so
    // that captions are as sharp as the geometry: glyphs are never scaled as bitmaps.
    const int emPixels = static_cast<int>(std::lround(static_cast<double>(height) * renderScale));
    GlyphSource source;
    if (const char* reason = source.openFace(CAPTION_FAMILY, true, emPixels)) {
        if (source.filePath[0])
            std::fprintf(stderr, "velmora: %s: %s; captions are off\n", source.filePath, reason);
        else
            std::fprintf(stderr, "velmora: %s for \"%s\" italic; captions are off\n", reason,
                         CAPTION_FAMILY);
        return false;
    }
    // Leaves: 224 consecutive list names reserved, compiled below.
    const GLuint base = glGenLists(GLYPH_COUNT);
    if (base == 0) {
        std::fprintf(stderr, "velmora: no display lists left for the font; captions are off\n");
        source.close();
        return false;
    }

    // The bitmaps are read with these settings when each list is compiled.
    setInitialUnpackState();
    for (int code = FIRST_GLYPH_CODE; code < FIRST_GLYPH_CODE + GLYPH_COUNT; ++code) {
        GlyphImage glyph;
        // A glyph FreeType cannot render becomes an empty list that draws and moves nothing.
        source.renderGlyph(windows1252ToUnicode(static_cast<unsigned char>(code)), glyph);
        const unsigned list = base + static_cast<unsigned>(code - FIRST_GLYPH_CODE);
        keepAndCompileGlyph(*this, code, list, glyph);
    }
    source.close();
    listBase = base;
    return true;
}

void BitmapFont::beginText(float depth) {
    // Leaves: the caller's modelview saved; identity then (0, 0, -depth) current.
    glPushMatrix();
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -depth);
}

void BitmapFont::setTextPosition(float x, float y, float alpha, Color color) {
    // The raster colour is taken here, from the current colour or, while lighting is
    // still on, from lighting the raster position: the colour is set before the position
    // and lighting goes off only after it.
    // Leaves: current colour (r, g, b, alpha); raster position at (x, y, 0) of the text
    // plane, invalid when outside the view volume.
    glColor4f(color.r, color.g, color.b, alpha);
    glRasterPos2f(x, y);
    if (textObserver.position) textObserver.position(x, y, alpha, color);
    // Leaves: text state for every later position and print in the frame.
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void BitmapFont::printText(const char* format, ...) {
    if (!format || listBase == 0) return;
    char text[TEXT_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    const int length = formatText(text, format, args);
    va_end(args);
    if (length == 0) return;
    if (textObserver.print) textObserver.print(text);
    if (plainDrawing) {
        callGlyphLists(listBase, text, length);
        return;
    }

    // What each glyph's list does, without the list: GL skips the bitmap and the move
    // while the raster position is invalid, and colours it with the raster colour.
    // Leaves: pixel unpack state at GL's initial values; raster position after the last
    // glyph (or where it was, if it is invalid).
    setInitialUnpackState();
    for (int i = 0; i < length; ++i) {
        const int code = static_cast<unsigned char>(text[i]);
        if (code < FIRST_GLYPH_CODE) continue;
        const FontGlyph& glyph = glyphs[code - FIRST_GLYPH_CODE];
        glBitmap(glyph.width, glyph.rows, glyph.originX, glyph.originY, glyph.advance, 0.0f,
                 glyph.width && glyph.rows ? glyphBits.data() + glyph.offset : nullptr);
    }
}

void BitmapFont::printTextWithLists(const char* format, ...) {
    // Without a font the list names below would belong to whoever else made lists.
    if (!format || listBase == 0) return;
    char text[TEXT_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    const int length = formatText(text, format, args);
    va_end(args);
    if (length == 0) return;
    callGlyphLists(listBase, text, length);
}

void BitmapFont::endText() {
    // Leaves: the modelview saved by beginText.
    glPopMatrix();
}
