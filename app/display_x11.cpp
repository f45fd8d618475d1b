// The display layer's X11 side: ending the program on a lost X display, and the window's
// picture scaled by the server. On a lost display Xlib's own handlers print several lines
// and call exit(), whose clean-up unloads the GL library under the start-up thread while
// it compiles shaders inside it; _exit runs no clean-up, so no thread is left inside a
// library being torn down. Owns the watch's state (the flag that lets only the first
// thread report, the server's socket address and the window's connection) and the
// server scaling's X resources.
#include "app/display_x11.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>
#include <poll.h>
#include <signal.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

std::atomic<bool> lossReported{false};
// The local server's socket, "/tmp/.X11-unix/X<n>" (also tried in the abstract namespace,
// where servers listen too); empty for a display reached over the network.
sockaddr_un serverAddress{};
socklen_t serverAddressLength = 0;
std::atomic<int> windowConnection{-1};  // the window's connection to the server (fd)

[[noreturn]] void endForLostDisplay(const char* what) {
    if (!lossReported.exchange(true)) {
        char line[320];
        int n = std::snprintf(line, sizeof line, "velmora: lost the display: %s\n", what);
        if (n < 0 || n >= static_cast<int>(sizeof line)) n = static_cast<int>(sizeof line) - 1;
        ssize_t ignored = write(2, line, static_cast<size_t>(n));
        (void)ignored;
        _exit(1);
    }
    for (;;) pause();  // another thread is ending the process
}

int onConnectionLost(Display*) { endForLostDisplay("the X server closed the connection"); }

// SDL catches the errors it expects around its own calls; what reaches here is a window
// destroyed from outside or a drawable gone with its server.
int onError(Display* display, XErrorEvent* error) {
    char text[160], what[224];
    XGetErrorText(display, error->error_code, text, sizeof text);
    std::snprintf(what, sizeof what, "X error %s (request %d.%d)", text, error->request_code,
                  error->minor_code);
    endForLostDisplay(what);
}

// Async-signal-safe: whether the server no longer takes connections, or has closed the
// window's connection (end of stream on its socket).
bool displayGone() {
    const int fd = windowConnection.load();
    if (fd >= 0) {
        pollfd p{fd, POLLIN, 0};
        char byte;
        if (poll(&p, 1, 0) > 0 && ((p.revents & (POLLHUP | POLLERR)) ||
                                   recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0))
            return true;
    }
    if (serverAddressLength == 0) return false;
    bool refused = true;
    for (int abstract = 0; abstract < 2 && refused; ++abstract) {
        sockaddr_un address = serverAddress;
        socklen_t length = serverAddressLength;
        if (abstract) {  // "\0/tmp/.X11-unix/X<n>", no terminator counted
            std::memmove(address.sun_path + 1, serverAddress.sun_path, sizeof address.sun_path - 1);
            address.sun_path[0] = '\0';
        }
        const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (probe < 0) return false;
        refused = connect(probe, reinterpret_cast<sockaddr*>(&address), length) != 0;
        close(probe);
    }
    return refused;
}

// A crash while the display is gone is the GL library meeting the dead connection; any
// other crash stays a crash (the default action, with its core dump).
void onFatalSignal(int signal) {
    // A server being killed closes the client's connection a moment before its listening
    // socket: a crash on the first can come before the second shows. 100 ms at most.
    for (int tries = 0; tries < 20; ++tries) {
        if (displayGone()) endForLostDisplay("the X server closed the connection");
        const timespec pause{0, 5000000};
        nanosleep(&pause, nullptr);
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

// ":0", ":0.1", "unix:0" name the local server's socket; a host name does not.
void findServerSocket() {
    const char* display = std::getenv("DISPLAY");
    if (!display) return;
    const char* colon = std::strrchr(display, ':');
    if (!colon || (colon != display && std::strncmp(display, "unix:", 5) != 0)) return;
    const int number = std::atoi(colon + 1);
    serverAddress.sun_family = AF_UNIX;
    const int n = std::snprintf(serverAddress.sun_path, sizeof serverAddress.sun_path, "/tmp/.X11-unix/X%d", number);
    serverAddressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n + 1);
}

}  // namespace

void watchX11Display() {
    // A write to a server that has just died would otherwise end the process by SIGPIPE,
    // silently; ignored, the write fails and Xlib calls onConnectionLost.
    signal(SIGPIPE, SIG_IGN);
    XSetIOErrorHandler(onConnectionLost);
    XSetErrorHandler(onError);
    findServerSocket();
    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGSEGV, SIGBUS, SIGABRT}) sigaction(signal, &action, nullptr);
}

void watchX11Window(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11)
        windowConnection = ConnectionNumber(info.info.x11.display);
}

namespace {

// The server scaling's resources: the frame's shared memory and the pixmap it is put
// into, the pictures the server composites from and into, and the size last scaled to.
struct ServerScaling {
    Display* display = nullptr;
    Window window = 0;
    XShmSegmentInfo memory{};
    XImage* image = nullptr;
    Pixmap frame = 0;
    GC frameContext = nullptr;
    Picture source = 0;
    Picture target = 0;
    int width = 0, height = 0;
    int scaledWidth = 0, scaledHeight = 0;
    bool handedOver = false;  // a frame was sent that the server may still be reading
};
ServerScaling scaling;

// Errors the probing requests may meet (shared memory refused by a server on another
// machine); counted here instead of ending the program.
int probeErrors = 0;
int countProbeError(Display*, XErrorEvent*) {
    ++probeErrors;
    return 0;
}

bool laidOutAsBgrx(const XWindowAttributes& window, const XImage& image, Display* display) {
    const Visual* v = window.visual;
    // GLX may choose a direct-colour visual; its pixels are laid out the same.
    const bool colour = v->c_class == TrueColor || v->c_class == DirectColor;
    return window.depth == 24 && colour && v->red_mask == 0xff0000 && v->green_mask == 0xff00 &&
           v->blue_mask == 0xff && image.bits_per_pixel == 32 && ImageByteOrder(display) == LSBFirst;
}

}  // namespace

bool startServerScaling(SDL_Window* window, int width, int height) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
    Display* display = info.info.x11.display;
    int event, error, major = 0, minor = 0;
    if (!XRenderQueryExtension(display, &event, &error) || !XRenderQueryVersion(display, &major, &minor) ||
        major * 100 + minor < 10 || !XShmQueryExtension(display))
        return false;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, info.info.x11.window, &attributes)) return false;
    XRenderPictFormat* format = XRenderFindVisualFormat(display, attributes.visual);
    if (!format) return false;

    // Built in place: the image keeps a pointer to its segment's record.
    ServerScaling& s = scaling;
    s = ServerScaling{};
    s.display = display;
    s.window = info.info.x11.window;
    s.width = width;
    s.height = height;
    s.memory.shmid = -1;
    // Undoes whatever of the image and its segment was made so far.
    auto giveUp = [&s] {
        if (s.memory.shmid >= 0) shmctl(s.memory.shmid, IPC_RMID, nullptr);  // if not yet
        if (s.memory.shmaddr) shmdt(s.memory.shmaddr);
        if (s.image) {
            s.image->data = nullptr;
            XDestroyImage(s.image);
        }
        s = ServerScaling{};
        return false;
    };
    s.image = XShmCreateImage(display, attributes.visual, 24, ZPixmap, nullptr, &s.memory, width, height);
    if (!s.image || !laidOutAsBgrx(attributes, *s.image, display) || s.image->bytes_per_line != width * 4)
        return giveUp();
    s.memory.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(s.image->bytes_per_line) * height, IPC_CREAT | 0600);
    if (s.memory.shmid < 0) return giveUp();
    void* address = shmat(s.memory.shmid, nullptr, 0);
    // Marked for removal at once, so that it goes when both sides have detached, however
    // the program ends (a lost display ends it inside the XSync below). Linux lets the
    // server still attach a segment so marked while this process holds it.
    shmctl(s.memory.shmid, IPC_RMID, nullptr);
    if (address == reinterpret_cast<void*>(-1)) return giveUp();
    s.memory.shmaddr = s.image->data = static_cast<char*>(address);
    s.memory.readOnly = False;
    // A server on another machine refuses the segment: caught here, then the usual watch.
    XSync(display, False);
    probeErrors = 0;
    XErrorHandler watch = XSetErrorHandler(countProbeError);
    const bool attached = XShmAttach(display, &s.memory);
    XSync(display, False);
    XSetErrorHandler(watch);
    if (!attached || probeErrors) return giveUp();
    s.frame = XCreatePixmap(display, s.window, static_cast<unsigned>(width), static_cast<unsigned>(height), 24);
    s.frameContext = XCreateGC(display, s.frame, 0, nullptr);
    // Edge pixels repeat outward, as GL's clamp-to-edge sampling does.
    XRenderPictureAttributes repeat{};
    repeat.repeat = RepeatPad;
    s.source = XRenderCreatePicture(display, s.frame, format, CPRepeat, &repeat);
    s.target = XRenderCreatePicture(display, s.window, format, 0, nullptr);
    return true;
}

unsigned char* serverScalingPixels() {
    // The server reads the shared memory when it runs the put request: wait for that.
    if (scaling.handedOver) XSync(scaling.display, False);
    scaling.handedOver = false;
    return reinterpret_cast<unsigned char*>(scaling.image->data);
}

void serverScaleIntoWindow(const PixelRect& picture, int windowWidth, int windowHeight) {
    Display* d = scaling.display;
    XShmPutImage(d, scaling.frame, scaling.frameContext, scaling.image, 0, 0, 0, 0,
                 static_cast<unsigned>(scaling.width), static_cast<unsigned>(scaling.height), False);
    const int width = picture.width, height = picture.height;
    // A window too small to hold a row of the picture (1 x 1) gets only its bars.
    const bool drawn = width > 0 && height > 0;
    if (drawn && (width != scaling.scaledWidth || height != scaling.scaledHeight)) {
        // Maps the window's pixel centres into the frame: frame = window * frame size / size.
        XTransform scale{};
        scale.matrix[0][0] = XDoubleToFixed(static_cast<double>(scaling.width) / width);
        scale.matrix[1][1] = XDoubleToFixed(static_cast<double>(scaling.height) / height);
        scale.matrix[2][2] = XDoubleToFixed(1.0);
        XRenderSetPictureTransform(d, scaling.source, &scale);
        const bool exact = width == scaling.width && height == scaling.height;
        XRenderSetPictureFilter(d, scaling.source, exact ? FilterNearest : FilterBilinear, nullptr, 0);
        scaling.scaledWidth = width;
        scaling.scaledHeight = height;
    }
    PixelRect bars[4];
    XRectangle shown[4];
    const int count = barsAround(picture, windowWidth, windowHeight, bars);
    for (int i = 0; i < count; ++i)
        shown[i] = {static_cast<short>(bars[i].x), static_cast<short>(bars[i].y),
                    static_cast<unsigned short>(bars[i].width), static_cast<unsigned short>(bars[i].height)};
    const XRenderColor black{0, 0, 0, 0xffff};
    if (count) XRenderFillRectangles(d, PictOpSrc, scaling.target, &black, shown, count);
    if (drawn)
        XRenderComposite(d, PictOpSrc, scaling.source, None, scaling.target, 0, 0, 0, 0, picture.x, picture.y,
                         static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(d);
    scaling.handedOver = true;
}

void stopServerScaling() {
    if (!scaling.display) return;
    Display* d = scaling.display;
    XRenderFreePicture(d, scaling.target);
    XRenderFreePicture(d, scaling.source);
    XFreeGC(d, scaling.frameContext);
    XFreePixmap(d, scaling.frame);
    XShmDetach(d, &scaling.memory);
    XSync(d, False);
    shmdt(scaling.memory.shmaddr);
    scaling.image->data = nullptr;
    XDestroyImage(scaling.image);
    scaling = ServerScaling{};
}
