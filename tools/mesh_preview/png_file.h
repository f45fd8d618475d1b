// A minimal PNG writer for this tool: 8-bit RGB, uncompressed (stored) deflate blocks,
// so it needs no image or compression library.
#pragma once
#include <cstdint>
#include <string>

// Writes `rgb` (rows from the top, 3 bytes per pixel). On failure returns false and
// sets `error` to a short reason.
bool writeRgbPng(const std::string& path, int width, int height, const uint8_t* rgb, std::string* error);
