// Canvas drawing and FreeType labels for the tools.
#include "tools/common/canvas.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// The label face, opened once per process; null when the system has none.
FT_Face labelFace() {
    static FT_Library library = nullptr;
    static FT_Face face = nullptr;
    static bool tried = false;
    if (tried) return face;
    tried = true;
    if (FT_Init_FreeType(&library) != 0) return nullptr;
    FcInit();
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcChar8* file = nullptr;
    if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
        if (FT_New_Face(library, reinterpret_cast<const char*>(file), 0, &face) != 0) face = nullptr;
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return face;
}

}  // namespace

Canvas::Canvas(int w, int h, Rgb background) : width(w), height(h), rgba(size_t(w) * h * 4) {
    fillRect(0, 0, w, h, background);
}

void Canvas::fillRect(int x, int y, int w, int h, Rgb c) {
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + w, width), y1 = std::min(y + h, height);
    for (int j = y0; j < y1; ++j)
        for (int i = x0; i < x1; ++i) {
            uint8_t* p = &rgba[(size_t(j) * width + i) * 4];
            p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 255;
        }
}

void Canvas::line(int x0, int y0, int x1, int y1, Rgb c) {
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        fillRect(x0, y0, 1, 1, c);
        if (x0 == x1 && y0 == y1) break;
        const int e2 = 2 * err;
        if (e2 >= dy) err += dy, x0 += sx;
        if (e2 <= dx) err += dx, y0 += sy;
    }
}

int Canvas::text(int x, int y, const std::string& s, int pixelSize, Rgb c) {
    FT_Face face = labelFace();
    if (!face || FT_Set_Pixel_Sizes(face, 0, pixelSize) != 0) return 0;
    const int startX = x;
    for (unsigned char ch : s) {
        if (FT_Load_Char(face, ch, FT_LOAD_RENDER) != 0) continue;
        const FT_Bitmap& bm = face->glyph->bitmap;
        const int left = x + face->glyph->bitmap_left, top = y - face->glyph->bitmap_top;
        for (unsigned row = 0; row < bm.rows; ++row)
            for (unsigned col = 0; col < bm.width; ++col) {
                const int px = left + int(col), py = top + int(row);
                if (px < 0 || py < 0 || px >= width || py >= height) continue;
                const int coverage = bm.buffer[row * bm.pitch + col];  // 0..255
                uint8_t* p = &rgba[(size_t(py) * width + px) * 4];
                p[0] = uint8_t((p[0] * (255 - coverage) + c.r * coverage) / 255);
                p[1] = uint8_t((p[1] * (255 - coverage) + c.g * coverage) / 255);
                p[2] = uint8_t((p[2] * (255 - coverage) + c.b * coverage) / 255);
            }
        x += int(face->glyph->advance.x >> 6);
    }
    return x - startX;
}

void Canvas::paste(const uint8_t* image, int w, int h, int x, int y) {
    for (int j = 0; j < h; ++j) {
        const int py = y + j;
        if (py < 0 || py >= height) continue;
        for (int i = 0; i < w; ++i) {
            const int px = x + i;
            if (px < 0 || px >= width) continue;
            std::copy_n(&image[(size_t(j) * w + i) * 4], 4, &rgba[(size_t(py) * width + px) * 4]);
        }
    }
}
