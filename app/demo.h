// The demo's start-up, frame and shutdown sequence over the display layer.
// Owns the letterbox bar.
#pragma once
#include "app/display.h"

// Loop mode (--loop): the last scene's end starts the next pass instead of ending the
// demo. False by default.
extern bool loopPlayback;

// True while Space has paused the picture and the music.
extern bool playbackPaused;

// Window events as the demo treats them: Escape quits, a close request destroys the
// window and quits, Space pauses and resumes, F11 or Alt+Enter switches between full
// screen and a window (the picture and the music run on), everything else is ignored.
void windowProc(const WindowMessage& message);

// Starts, on threads of their own, the work start-up can do before the display is open:
// decoding the ten textures' files and the music. Run first; nothing is shown, played or
// reported earlier than without it.
void prefetchAssets();

// Start-up after the display is open, up to the font: the texture bank and its ten
// loads, the black frame (drawn; swapWindow shows it), the scene set-ups and line
// smoothing.
void loadDemo();

// Draws the current scene's frame once, unseen, without advancing any clock, so that
// the renderer prepares all that frame needs (software GL builds its shaders on first
// use) before the timeline starts. Every GL setting and timeline value is put back; the
// render target keeps the picture until the next frame clears it.
void warmUpFirstFrame();

// Start-up's work that needs no screen: loadDemo, then warmUpFirstFrame. The demo runs
// it while its window opens (showWindowWhile) and shows the black frame after.
void prepareDemo();

// Initialises the sound, loads "music.mp3" and starts it.
void startMusic();

// Pauses or resumes the picture and the music together. The paused time is taken out of
// the clocks, so the next frame is the one that would have followed without the pause.
void setPlaybackPaused(bool paused);

// The start of the next pass of a looping demo: every scene's own state, the timeline
// and the blend function the first frame finds go back to what start-up left, the music
// starts again from its start, then the clocks. The next frame is the first frame again
// (no black frame). Allocates nothing.
void startNextPass();

// One frame into the render target: timing, then drawFrame. Presentation is the caller's.
void renderFrame();

// A frame's drawing at the present clock: music level, white clear, the current scene,
// the letterbox bars.
void drawFrame();

// The black bands over rows 0..35 and 444..479 (on 640 x 480), drawn over the scene.
// Leaves: blending off with (SRC_ALPHA, ONE); depth, cull, lighting, texturing off;
// current colour opaque black.
void drawLetterbox();

// Runs frames until quitRequested: at most one event per turn, a frame only when
// the queue is empty; in loop mode the last scene's end starts the next pass. While
// paused it waits for events and shows the last frame again on any but a key.
void runFrameLoop();
// True when VELMORA_FRAME_LOG named a log that could not be opened or written (its one
// line is printed): the run then ends with status 1.
bool frameLogLost();

// Stops the music and closes the sound and the display.
void shutdownDemo();
