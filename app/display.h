// The display layer: the one window, its GL context, the render target the demo draws
// into (640 x 480, or that picture at a larger scale), presentation, window events and
// the platform clock. This file and display.cpp are the only places in app/ that know SDL.
#pragma once
#include <cstdint>

#include "app/render_size.h"

// Display globals. The demo's pixel promises hold inside the render target,
// whatever the size of the screen.
extern int screenWidth;       // pixels of the 640 x 480 picture: the 2D coordinate system
extern int screenHeight;      // the same, 480
extern int fieldOfView;       // degrees, vertical
extern float viewportHeight;  // pixels of the 640 x 480 picture, equal to screenHeight
extern const char* windowClassName;  // window title

// The render target: the same picture rasterised natively at renderScale times its size.
// Everything tied to pixels follows the scale: viewport, line width, caption glyphs
// (render/bitmap_font.h) and read-back; the 2D coordinates and every scene value do not.
// Set by openDisplay from renderRequest; 640 x 480 and 1 before it.
extern RenderSize renderRequest;  // asked for before openDisplay; the default is 1
extern int renderWidth;           // pixels, 640 * renderScale
extern int renderHeight;          // pixels, 480 * renderScale
extern float renderScale;         // renderWidth / screenWidth, 1..8; 1: today's picture


// How the window is shown. The demo asks for Fullscreen, or Windowed (a resizable desktop
// window) when the user asks for it; tests and the capture tool ask for Hidden, which still
// gets a real GL context.
enum class WindowKind { Fullscreen, Windowed, Hidden };

// The player's window choices, read by openDisplay for the Fullscreen and Windowed kinds.
extern int windowedWidth;   // pixels; 0: 1280 x 960, or the largest 4:3 size that fits the screen
extern int windowedHeight;  // pixels; 0 as above
extern int swapInterval;    // -1 adaptive where offered (else every refresh), 1 every refresh, 0 never

// Opens the window (not yet shown: see showWindowWhile), the GL context and the render
// target (at the size renderRequest asks for; native: the largest 4:3 size the window's
// drawable holds when it opens), and sets the projection, viewport and initial GL state. Returns false (after
// one line on stderr) when no usable GL context or render target can be had, and for
// a shown kind when no screen can be reached (SDL's offscreen or dummy driver, unless
// SDL_VIDEODRIVER names it). Leaves the render target bound, and the process keeping
// the memory it frees (the software rasterizer frees and takes megabytes every frame).
bool openDisplay(const char* title, int width, int height, int bitsPerPixel,
                 WindowKind kind = WindowKind::Fullscreen);

// Projection, viewport and initial state, on the current context. Leaves the
// modelview as the current matrix mode, depth test on (GL_LESS), lighting and
// blending off, smooth shading; above scale 1, lines renderScale pixels wide.
void initGLContext();

// Shows the window and runs `work` meanwhile, with the GL context. Showing a full-screen
// window can take a while (SDL waits up to 100 ms for a window manager's answer), so the
// work runs on a thread of its own that holds the context; the context is current on the
// calling thread again when this returns, and what the work wrote is visible there.
// Where the context cannot move to another thread, the work runs here after the window
// is shown. A hidden window stays hidden; its work still runs on the other thread.
void showWindowWhile(void (*work)());

// Clears to the current clear colour, loads the identity modelview, sets the current
// colour to opaque white and draws the target into the window; the next swapWindow shows
// it. The screen shows black while set-up runs. Asks SDL nothing, so it may run in
// showWindowWhile's work.
void blankFrame();

// Scales the render target into the window with its 4:3 shape kept and black bars
// beside it, and swaps. Under software GL on X the X server does the scaling (smoothed
// with its own bilinear filter, so the window's pixels may differ from GL's by a few
// levels; VELMORA_SCALING=gl keeps GL's); the render target is the same either way.
// Leaves the render target bound for reading and drawing.
void presentFrame();

// Draws the render target into `framebuffer` (0: the window's back buffer) of the given
// size: the largest rectangle of the target's shape that fits, centred, with black bars
// filling the rest; smoothed where the sizes differ, pixel for pixel where they match.
void copyTargetInto(unsigned framebuffer, int width, int height);

// presentFrame's two halves, for timing them apart: the scaled copy into the window's
// back buffer, then the swap that shows it. With the server scaling: the frame read back
// for the server, then the requests that scale it into the window.
void scaleIntoWindow();

// Shows what was last drawn into the window (the black frame at start-up), or hands the
// frame scaleIntoWindow read to the server.
void swapWindow();

// Switches a shown window between full screen and the window size chosen at start-up (or
// its last size in a window), centred; the cursor is hidden in full screen and shown in a
// window. The GL context, the render target and the picture stay as they are. Does
// nothing for a Hidden window.
void setFullscreen(bool fullscreen);
bool isFullscreen();

// Releases context and window. Safe after the window was destroyed on a close request.
void closeDisplay();

// Destroys the window and its GL context at once (a close request). Safe to call twice.
void destroyMainWindow();

// The GL name of the render target's framebuffer, for code that reads pixels back.
unsigned renderTargetFramebuffer();

// Copies the render target into `rgba`: renderWidth x renderHeight pixels, 4 bytes each
// (alpha as the target holds it), rows from the top. Allocates nothing. Leaves the render
// target bound as read and draw framebuffer and GL_PACK_ALIGNMENT 1.
void readRenderTarget(uint8_t* rgba);
// The same at width x height: whole factors of the target's size repeat pixels, other
// sizes are smoothed. The first read at a new size makes a framebuffer for it (not
// while a frame is drawn: read-back comes after). False when that cannot be made.
bool readRenderTarget(uint8_t* rgba, int width, int height);

// Milliseconds since the platform layer started; never decreases.
uint64_t platformClockMs();

// One window event, reduced to what the frame loop acts on.
// ToggleFullscreen: F11, or Enter with Alt held (not a key's auto-repeat).
enum class WindowMessageKind { None, KeyDown, CloseRequest, Quit, ToggleFullscreen, Other };
struct WindowMessage {
    WindowMessageKind kind;
    int key;  // for KeyDown: 27 for Escape, otherwise the platform's key code
};

// Takes at most one pending event without waiting. Returns kind None when the queue is empty.
WindowMessage pollWindowMessage();
// Takes one event, sleeping until there is one, but for at most 100 ms (kind None then).
WindowMessage waitWindowMessage();
