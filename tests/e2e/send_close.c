/* Sends a window manager's close request (WM_DELETE_WINDOW) to every top-level
   window whose title is argv[1], as a desktop does when its close button is pressed.
   With --destroy it destroys those windows instead, and with --kill-client it has the
   server close their owner's connection (as xkill does): two ways a program loses its
   display from outside. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    const char* mode = argc == 3 ? argv[1] : "";
    if ((argc != 2 && argc != 3) || (argc == 3 && strcmp(mode, "--destroy") != 0 && strcmp(mode, "--kill-client") != 0)) {
        fprintf(stderr, "usage: send-close [--destroy | --kill-client] TITLE\n");
        return 2;
    }
    const char* title = argv[argc - 1];
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "send-close: cannot open the display\n");
        return 1;
    }
    Window root = DefaultRootWindow(display), parent, *children = NULL;
    unsigned count = 0;
    XQueryTree(display, root, &root, &parent, &children, &count);
    Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    int sent = 0;
    for (unsigned i = 0; i < count; ++i) {
        char* name = NULL;
        if (XFetchName(display, children[i], &name) && name && strcmp(name, title) == 0) {
            if (strcmp(mode, "--destroy") == 0) {
                XDestroyWindow(display, children[i]);
            } else if (strcmp(mode, "--kill-client") == 0) {
                XKillClient(display, children[i]);
            } else {
                XEvent event;
                memset(&event, 0, sizeof event);
                event.xclient.type = ClientMessage;
                event.xclient.window = children[i];
                event.xclient.message_type = protocols;
                event.xclient.format = 32;
                event.xclient.data.l[0] = (long)deleteWindow;
                event.xclient.data.l[1] = CurrentTime;
                XSendEvent(display, children[i], False, NoEventMask, &event);
            }
            ++sent;
        }
        if (name) XFree(name);
    }
    if (children) XFree(children);
    XCloseDisplay(display);
    if (!sent) {
        fprintf(stderr, "send-close: no window titled %s\n", title);
        return 1;
    }
    return 0;
}
