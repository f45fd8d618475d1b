// The program's icon for desktop menus, drawn with the same painter as the pictures: a
// white frame between the demo's black letterbox bars, a lit cube with light edge lines.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace assets {

constexpr int ICON_SIZES[] = {32, 48, 64, 128, 256};  // pixels, the hicolor sizes installed

// The icon at `size` x `size` pixels (16..1024): RGBA rows top first, straight alpha,
// transparent outside its rounded corners. Drawn afresh at each size, so small ones stay crisp.
std::vector<uint8_t> drawIcon(int size);

// Writes `size` x `size` RGBA pixels as a PNG; false with a short reason in `error`.
bool writeIconPng(const std::string& path, int size, const std::vector<uint8_t>& rgba, std::string& error);

} // namespace assets
