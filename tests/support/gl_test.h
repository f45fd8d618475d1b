// A real GL context for tests: the display layer opened once per test program with a
// hidden window (SDL's offscreen driver under ctest, Mesa's llvmpipe), its 640 x 480
// render target bound. GlTest resets the GL state to what every frame starts from.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

struct Rgba {
    uint8_t r, g, b, a;
    bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};
std::ostream& operator<<(std::ostream& os, const Rgba& p);

// Opens the display if needed. Fails the calling test when no GL context can be had.
bool ensureGlContext();

// The render target's pixel at column x, row y counted from the top (as the overlay's
// pixel coordinates are).
Rgba pixelAt(int x, int y);

// The whole render target, rows from the top, 4 bytes per pixel. Leaves what
// readRenderTarget leaves (target bound for reading, GL_PACK_ALIGNMENT 1).
std::vector<uint8_t> readFrame();

class GlTest : public ::testing::Test {
protected:
    // Leaves: the state every frame starts from after the first (depth, cull, lighting,
    // blend, texturing off; blend (SRC_ALPHA, ONE); opaque black colour), identity
    // modelview current, the start-up perspective, and the target cleared to white.
    void SetUp() override;
};
