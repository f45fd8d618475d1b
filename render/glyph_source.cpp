// Glyph bitmaps from font files through fontconfig and FreeType. The only file that
// knows either library.
#include "render/glyph_source.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstring>

namespace {

// Windows-1252 bytes 0x80..0x9F; 0 marks the five the code page leaves undefined.
const unsigned short CP1252_HIGH_CONTROLS[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Copies the file of fontconfig's best match for the request into `path`.
// Returns null on success, else a short reason.
const char* matchFontFile(const char* family, bool italic, char* path, size_t pathSize,
                          int* faceIndex) {
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config) return "fontconfig could not load its configuration";
    FcPattern* request = FcPatternCreate();
    FcPatternAddString(request, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcPatternAddInteger(request, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddInteger(request, FC_WEIGHT, FC_WEIGHT_NORMAL);
    FcPatternAddBool(request, FC_OUTLINE, FcTrue);
    FcConfigSubstitute(config, request, FcMatchPattern);
    FcDefaultSubstitute(request);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, request, &result);
    FcPatternDestroy(request);

    const char* reason = "fontconfig found no font";
    FcChar8* file = nullptr;
    if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        if (std::strlen(reinterpret_cast<const char*>(file)) < pathSize) {
            std::strcpy(path, reinterpret_cast<const char*>(file));
            if (FcPatternGetInteger(match, FC_INDEX, 0, faceIndex) != FcResultMatch) *faceIndex = 0;
            reason = nullptr;
        } else {
            reason = "font file path too long";
        }
    }
    if (match) FcPatternDestroy(match);
    FcConfigDestroy(config);
    return reason;
}

}  // namespace

unsigned windows1252ToUnicode(unsigned char byte) {
    if (byte < 0x80 || byte > 0x9F) return byte;
    const unsigned mapped = CP1252_HIGH_CONTROLS[byte - 0x80];
    return mapped ? mapped : byte;
}

const char* GlyphSource::openFace(const char* family, bool italic, int emPixels) {
    close();
    if (emPixels < 1 || emPixels > 1000) return "font height out of range";
    int faceIndex = 0;
    if (const char* reason = matchFontFile(family, italic, filePath, sizeof filePath, &faceIndex))
        return reason;

    FT_Library ftLibrary = nullptr;
    if (FT_Init_FreeType(&ftLibrary) != 0) return "FreeType could not start";
    library = ftLibrary;
    FT_Face ftFace = nullptr;
    if (FT_New_Face(ftLibrary, filePath, faceIndex, &ftFace) != 0) {
        releaseHandles();
        return "FreeType cannot open the font file";
    }
    face = ftFace;
    // Character codes are looked up as Unicode; a face without a Unicode map cannot
    // give us the ANSI characters.
    if (FT_Select_Charmap(ftFace, FT_ENCODING_UNICODE) != 0) {
        releaseHandles();
        return "font has no Unicode character map";
    }
    // Em height in pixels, width to match: the platform's "character height".
    if (FT_Set_Pixel_Sizes(ftFace, 0, static_cast<FT_UInt>(emPixels)) != 0) {
        releaseHandles();
        return "font cannot be scaled to the requested height";
    }
    return nullptr;
}

bool GlyphSource::renderGlyph(unsigned codePoint, GlyphImage& out) {
    out = GlyphImage{};
    if (!face) return false;
    FT_Face ftFace = static_cast<FT_Face>(face);
    const FT_UInt glyphIndex = FT_Get_Char_Index(ftFace, codePoint);  // 0: missing glyph
    if (FT_Load_Glyph(ftFace, glyphIndex, FT_LOAD_TARGET_MONO) != 0) return false;
    FT_GlyphSlot slot = ftFace->glyph;
    if (slot->format != FT_GLYPH_FORMAT_BITMAP &&
        FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0)
        return false;
    const FT_Bitmap& bitmap = slot->bitmap;
    const bool blank = bitmap.width == 0 || bitmap.rows == 0;
    if (!blank && bitmap.pixel_mode != FT_PIXEL_MODE_MONO) return false;

    out.advance = static_cast<int>((slot->advance.x + 32) >> 6);  // 26.6 fixed point
    if (blank) return true;
    out.width = static_cast<int>(bitmap.width);
    out.rows = static_cast<int>(bitmap.rows);
    out.left = slot->bitmap_left;
    out.top = slot->bitmap_top;
    out.pitch = bitmap.pitch;
    // A negative pitch means the rows are stored bottom-up from `buffer`.
    out.bits = bitmap.pitch >= 0 ? bitmap.buffer
                                 : bitmap.buffer + static_cast<long>(-bitmap.pitch) * (out.rows - 1);
    return true;
}

void GlyphSource::releaseHandles() {
    if (face) FT_Done_Face(static_cast<FT_Face>(face));
    if (library) FT_Done_FreeType(static_cast<FT_Library>(library));
    face = nullptr;
    library = nullptr;
}

void GlyphSource::close() {
    releaseHandles();
    filePath[0] = '\0';
}
