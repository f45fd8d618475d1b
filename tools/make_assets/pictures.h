// The demo's default pictures: ten colour JPEGs and three masks, drawn here.
#pragma once
#include "tools/make_assets/encode.h"

#include <cstdint>
#include <string>
#include <vector>

namespace assets {

// One file of the set, ready to encode.
struct PictureFile {
    std::string name;             // e.g. "tex2mask.jpg"
    int width, height;            // pixels, powers of two
    int components;               // 1 grey, 3 RGB
    JpegLayout layout;
    std::vector<uint8_t> pixels;  // rows top first, `components` bytes a pixel
};

// Draws all thirteen files: tex1, tex2 and tex2mask, tex3, tex5 (its own mask),
// tex6, tex7, tex8 and tex8mask, tex9 and tex9mask, tex10, tex11.
std::vector<PictureFile> drawPictures();

} // namespace assets
