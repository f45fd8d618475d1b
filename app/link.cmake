# The display layer watches the X connection itself (Xlib's error handlers), so that a
# lost X server ends the program with one line; under software GL the X server scales the
# window's picture (RENDER, through shared memory).
find_package(X11 REQUIRED)
target_link_libraries(velmora_core PUBLIC X11::X11 X11::Xext X11::Xrender)
