// The display layer's watch on the X connection (Xlib's process-wide error handlers and
// the fatal signals the GL library raises on a connection that is gone). Kept apart from
// display.cpp because Xlib's headers define names (None, Status, Bool) that the rest of
// the layer uses.
#pragma once

struct SDL_Window;

// From now on, a lost X display (the server killed, this client's connection or its
// window killed from outside) or any X error nobody asked to catch ends the program at
// once with one line on stderr and status 1, from whichever thread meets it; so does a
// crash inside a library (Mesa's GLX does not check the replies of a dead connection)
// while the display is verifiably gone. Call before the first connection is opened: SDL's
// own error handler passes errors on to these.
void watchX11Display();

// Watches the connection of `window` too (for a connection killed while the server lives
// on). Does nothing for a window on another video driver.
void watchX11Window(SDL_Window* window);
