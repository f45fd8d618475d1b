// A real GL context for tests: the display layer opened once per test program with a
// hidden window (SDL's offscreen driver under ctest, Mesa's llvmpipe), its 640 x 480
// render target bound. GlTest resets the GL state to what every frame starts from, so
// that a test program gives the same results run whole or one test at a time.
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

// Puts back everything a test may have changed. Leaves: the state every frame starts
// from after the first (depth test, culling, lighting, blending and texturing off; blend
// function (SRC_ALPHA, ONE); opaque black colour) with line smoothing on (nicest hint),
// as start-up leaves it; every other setting at GL's initial value: lights, light model,
// materials and colour material, texture environment and generation, texture bindings
// 0, list base 0, pixel pack and unpack state, client arrays off, matrix and attribute
// stacks empty, no list being compiled, render mode GL_RENDER, raster position at the
// window origin; the render target bound with its whole area as viewport and scissor
// box; identity modelview current over the start-up perspective; the target cleared to
// white and the depth buffer to 1; no GL error pending.
void resetGlState();

class GlTest : public ::testing::Test {
protected:
    // Opens the context if needed, then resetGlState.
    void SetUp() override;
};
