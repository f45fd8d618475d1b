// Flat drawing over the 3D picture: the pixel-aligned 2D bracket, full-screen fades
// and sprites. Owns the global `overlay`. Each operation states the GL state it leaves.
#pragma once
#include "render/color.h"

// Identity projection matrix replaced by the demo's perspective: fieldOfView degrees
// vertically, the given aspect, near 0.1, far 20000. Multiplies onto the current matrix.
void loadPerspective(float aspect);

struct Overlay {
    // Saves the modelview, then sets a pixel projection: (0, 0) top-left,
    // (screenWidth, screenHeight) bottom-right. Leaves identity modelview current.
    void begin2D();
    // Rebuilds the perspective and restores the modelview saved by begin2D.
    void end2D();
    // Covers the whole screen with (r, g, b) at `alpha` (0..1, clamped by GL).
    // Leaves: blending on with (SRC_ALPHA, ONE_MINUS_SRC_ALPHA); depth test, culling,
    // lighting and texturing off; current colour (r, g, b, alpha).
    void drawFade(float r, float g, float b, float alpha);
};

extern Overlay overlay;

// A screen-space quad. Fields are zero until the owner sets them; nothing is kept
// between draws.
struct Sprite {
    float x;          // centre, -1 left edge .. 1 right edge
    float y;          // centre, -1 top edge .. 1 bottom edge
    bool alphaBlend;  // true: (SRC_ALPHA, ONE_MINUS_SRC_ALPHA); false: additive (SRC_ALPHA, ONE)
    Color color;      // r, g, b tint; a is not drawn, the alpha comes from drawSprite
    bool textured;    // true: uses the texture bound by the caller
    float sizeX;      // half-width as a fraction of half the screen width
    float sizeY;      // half-height as a fraction of half the screen height
    float angle;      // degrees, clockwise on screen, about the screen's top-left corner
    float repeatU;    // texture s at the right edge
    float repeatV;    // texture t at the bottom edge

    // Draws the quad between begin2D and end2D.
    // Leaves: blending off with the additive function (SRC_ALPHA, ONE) set for whoever
    // enables blending next; depth test, culling and lighting off; GL_TEXTURE_2D as
    // `textured` says; current colour (color.r, color.g, color.b, alpha).
    void drawSprite(float alpha);
};
