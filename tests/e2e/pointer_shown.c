/* Says whether the mouse pointer is visible where it is now: exit status 0 when the
   cursor image has any pixel that is not fully transparent, 1 when it has none. */
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <stdio.h>

int main(void) {
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "pointer-shown: cannot open the display\n");
        return 2;
    }
    XFixesCursorImage* cursor = XFixesGetCursorImage(display);
    if (!cursor) {
        fprintf(stderr, "pointer-shown: no cursor image\n");
        return 2;
    }
    int visible = 0;
    for (int i = 0; i < cursor->width * cursor->height; ++i)
        if ((cursor->pixels[i] >> 24) & 0xff) ++visible;
    printf("%dx%d cursor, %d visible pixels\n", cursor->width, cursor->height, visible);
    XFree(cursor);
    XCloseDisplay(display);
    return visible ? 0 : 1;
}
