// The display layer's watch on the X connection (Xlib's process-wide error handlers and
// the fatal signals the GL library raises on a connection that is gone). Kept apart from
// display.cpp because Xlib's headers define names (None, Status, Bool) that the rest of
// the layer uses.
#pragma once
#include "app/render_size.h"

struct SDL_Window;

// From now on, a lost X display (the server killed, this client's connection or its
// window killed from outside) or any X error nobody asked to catch ends the program at
// once with one line on stderr and status 1, from whichever thread meets it; so does a
// crash inside a library (Mesa's GLX does not check the replies of a dead connection)
// while the display is verifiably gone. SIGPIPE is ignored from then on, so that a write
// to a dead server is one of these ends too. Call before the first connection is opened:
// SDL's own error handler passes errors on to these.
void watchX11Display();

// Watches the connection of `window` too (for a connection killed while the server lives
// on). Does nothing for a window on another video driver.
void watchX11Window(SDL_Window* window);

// The window's picture scaled by the X server (RENDER's bilinear filter) instead of by GL:
// the frame goes to the server at its own size through shared memory, and the server
// scales it while the next frame is drawn. For software GL, where the swap itself is a
// copy into the server, this takes the scaling off the rasterizer and the screen-sized
// copy off every frame.
// Starts it for `window` with frames of width x height pixels. False, with nothing kept,
// where the window is not on X or the server lacks RENDER 0.10, shared memory or a
// 24-bit visual laid out as B, G, R, X bytes.
bool startServerScaling(SDL_Window* window, int width, int height);
// Where the next frame goes: width x height pixels of 4 bytes (blue, green, red, unused),
// rows from the top. Waits until the server has taken the last frame handed over.
unsigned char* serverScalingPixels();
// Hands the frame over: scaled into the window's rectangle `picture` (y from the window's
// top edge), pixel for pixel where that is the frame's size, with black over the rest of
// the windowWidth x windowHeight window. Returns once the requests are sent; the server
// draws them in order.
void serverScaleIntoWindow(const PixelRect& picture, int windowWidth, int windowHeight);
// Frees what startServerScaling made, while the window still exists. Safe to call twice.
void stopServerScaling();
