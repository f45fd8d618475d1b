// Ending the program on a lost X display. Xlib's own handlers print several lines and
// call exit(), whose clean-up unloads the GL library under the start-up thread while it
// compiles shaders inside it; _exit runs no clean-up, so no thread is left inside a
// library being torn down. Owns the watch's state: the flag that lets only the first
// thread report, the server's socket address and the window's connection.
#include "app/display_x11.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
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
