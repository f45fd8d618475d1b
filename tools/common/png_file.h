// PNG output for the tools, tuned for speed: 8-bit RGB, the SUB filter and light deflate.
// Every picture the tools write is opaque, so alpha is dropped. Owns no globals.
#pragma once
#include <cstdint>
#include <string>

// Writes width x height RGBA pixels (rows from the top, 4 bytes per pixel; the alpha byte
// is ignored) as an 8-bit RGB PNG, whole or not at all (see output_file.h). On failure
// returns false and sets `error` (may be null) to a short reason.
bool writePng(const std::string& path, int width, int height, const uint8_t* rgba, std::string* error);
