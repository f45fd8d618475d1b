// The demo's start-up, frame and shutdown sequence over the display layer.
// Owns the letterbox bar.
#pragma once
#include "app/display.h"

// Window events as the demo treats them: Escape quits, a close request destroys the
// window and quits, everything else is ignored.
void windowProc(const WindowMessage& message);

// Starts, on threads of their own, the work start-up can do before the display is open:
// decoding the ten textures' files and the music. Run first; nothing is shown, played or
// reported earlier than without it.
void prefetchAssets();

// Start-up after the display is open, up to the font: the texture bank and its ten
// loads, the black frame, the scene set-ups and line smoothing.
void loadDemo();

// Initialises the sound, loads "music.mp3" and starts it.
void startMusic();

// One frame into the render target: timing, music level, white clear, the current
// scene, the letterbox bars. Presentation is the caller's.
void renderFrame();

// The black bands over rows 0..35 and 444..479 (on 640 x 480), drawn over the scene.
// Leaves: blending off with (SRC_ALPHA, ONE); depth, cull, lighting, texturing off;
// current colour opaque black.
void drawLetterbox();

// Runs frames until quitRequested: at most one event per turn, a frame only when
// the queue is empty.
void runFrameLoop();

// Stops the music and closes the sound and the display.
void shutdownDemo();
