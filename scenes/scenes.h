// The seven scenes: a set-up step run once at start-up and a render step run every
// frame while the scene is current.
#pragma once

#include "render/bitmap_font.h"

void setupScene0();
void setupScene1();
void setupScene2();
void setupScene3();
void setupScene4();
void setupScene5();
void setupScene6();

// Each scene's own state (its clocks, camera and sprites) back as its set-up leaves it,
// for the next pass of a looping demo. The meshes need nothing: every deformation is
// undone in the frame that makes it. Allocates nothing.
void restartScene0();
void restartScene1();
void restartScene2();
void restartScene3();
void restartScene4();
void restartScene5();
void restartScene6();

void renderScene0();
void renderScene1();
void renderScene2();
void renderScene3();
void renderScene4();
void renderScene5();
void renderScene6();

// One black caption line at (x, y) on the text plane, `alpha` 0..1 (GL clamps beyond).
// The text is printed verbatim (never read as a format).
// Leaves: what setTextPosition and printText leave.
inline void printCaption(float x, float y, float alpha, const char* text) {
    textFont.setTextPosition(x, y, alpha, Color{0.0f, 0.0f, 0.0f, 1.0f});
    textFont.printText("%s", text);
}
