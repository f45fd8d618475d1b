// PNG output for captured frames, tuned for speed: 8-bit RGB (a frame has no alpha),
// the SUB filter and light deflate. Owns no globals.
#pragma once
#include <cstdint>
#include <string>

// Writes width x height RGBA pixels (rows from the top; alpha dropped) as an RGB PNG.
// On failure returns false with a short reason.
bool writeFramePng(const std::string& path, int width, int height, const uint8_t* rgba, std::string* error);
