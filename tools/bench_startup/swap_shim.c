// LD_PRELOAD shim for start-up timing: stamps, in ms since VELMORA_BENCH_T0_NS (set by
// launch), the calls that mark the demo's start-up phases, and after swap number
// VELMORA_BENCH_SWAPS writes one "name ms thread" line per mark to VELMORA_BENCH_OUT
// (thread: main, or other for start-up work on a thread of its own) and ends the process
// at once. The demo itself is not changed: the marks are SDL and GL calls it makes anyway
// (window, context, texture filters, the first blit, hints, the warm-up's attribute
// push, swaps or the X server's composites, audio set-up).
#define _GNU_SOURCE
#include <GL/gl.h>
#include <SDL2/SDL.h>
#include <X11/extensions/Xrender.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define MAX_MARKS 64

static struct {
    const char* name;
    int index;  // 0: none, else printed as name-index
    double ms;
    int main;   // stamped on the process's main thread
} marks[MAX_MARKS];
static int markCount = 0;
static int swaps = 0;
static int textures = 0;
static int blits = 0;
static int warmUpOpen = 0, warmUpSeen = 0;
static int playMarked = 0;

static double nowMs(void) {
    static long long t0 = -1;
    if (t0 < 0) {
        const char* text = getenv("VELMORA_BENCH_T0_NS");
        t0 = text ? atoll(text) : 0;
    }
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return ((long long)t.tv_sec * 1000000000LL + t.tv_nsec - t0) / 1e6;
}

// Marks come from two threads at most, never at the same call; the slot is still taken
// atomically.
static void mark(const char* name, int index) {
    const int slot = __atomic_fetch_add(&markCount, 1, __ATOMIC_RELAXED);
    if (slot < MAX_MARKS) {
        marks[slot].name = name;
        marks[slot].index = index;
        marks[slot].ms = nowMs();
        marks[slot].main = gettid() == getpid();
    }
}

static void finish(void) {
    const char* path = getenv("VELMORA_BENCH_OUT");
    FILE* out = path ? fopen(path, "w") : stderr;
    const int count = markCount < MAX_MARKS ? markCount : MAX_MARKS;
    if (out) {
        for (int i = 0; i < count; ++i) {
            const char* thread = marks[i].main ? "main" : "other";
            if (marks[i].index)
                fprintf(out, "%s-%d %.2f %s\n", marks[i].name, marks[i].index, marks[i].ms, thread);
            else
                fprintf(out, "%s %.2f %s\n", marks[i].name, marks[i].ms, thread);
        }
        fclose(out);
    }
    _exit(0);
}

#define NEXT(type, name) ((type)dlsym(RTLD_NEXT, name))

SDL_Window* SDL_CreateWindow(const char* title, int x, int y, int w, int h, Uint32 flags) {
    SDL_Window* window = NEXT(SDL_Window* (*)(const char*, int, int, int, int, Uint32),
                              "SDL_CreateWindow")(title, x, y, w, h, flags);
    mark("window", 0);
    return window;
}

SDL_GLContext SDL_GL_CreateContext(SDL_Window* window) {
    SDL_GLContext context = NEXT(SDL_GLContext (*)(SDL_Window*), "SDL_GL_CreateContext")(window);
    mark("context", 0);
    return context;
}

void SDL_ShowWindow(SDL_Window* window) {
    NEXT(void (*)(SDL_Window*), "SDL_ShowWindow")(window);
    mark("shown", 0);
}

static void swapped(void) {
    mark("swap", ++swaps);
    const char* limit = getenv("VELMORA_BENCH_SWAPS");
    if (swaps >= (limit ? atoi(limit) : 2)) finish();
}

void SDL_GL_SwapWindow(SDL_Window* window) {
    NEXT(void (*)(SDL_Window*), "SDL_GL_SwapWindow")(window);
    swapped();
}

// Where the X server scales the picture, a frame reaches the window by a RENDER composite
// instead of a swap: counted as one once the server has drawn it (as a software swap
// returns once the server has the frame).
void XRenderComposite(Display* display, int op, Picture source, Picture mask, Picture target, int sourceX,
                      int sourceY, int maskX, int maskY, int targetX, int targetY, unsigned width, unsigned height) {
    NEXT(void (*)(Display*, int, Picture, Picture, Picture, int, int, int, int, int, int, unsigned, unsigned),
         "XRenderComposite")(display, op, source, mask, target, sourceX, sourceY, maskX, maskY, targetX, targetY,
                             width, height);
    NEXT(int (*)(Display*, Bool), "XSync")(display, False);
    swapped();
}

// The demo fetches glBlitFramebuffer through SDL; the first blit draws the black frame.
static void (*realBlit)(GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLbitfield, GLenum);
static void blit(GLint a, GLint b, GLint c, GLint d, GLint e, GLint f, GLint g, GLint h,
                 GLbitfield mask, GLenum filter) {
    realBlit(a, b, c, d, e, f, g, h, mask, filter);
    if (++blits == 1) mark("black-drawn", 0);
}

void* SDL_GL_GetProcAddress(const char* name) {
    void* address = NEXT(void* (*)(const char*), "SDL_GL_GetProcAddress")(name);
    if (address && strcmp(name, "glBlitFramebuffer") == 0) {
        realBlit = address;
        return (void*)blit;
    }
    return address;
}

void glGenTextures(GLsizei n, GLuint* names) {
    if (textures == 0) mark("display", 0);
    NEXT(void (*)(GLsizei, GLuint*), "glGenTextures")(n, names);
}

void glTexParameteri(GLenum target, GLenum name, GLint value) {
    NEXT(void (*)(GLenum, GLenum, GLint), "glTexParameteri")(target, name, value);
    // Every bank load ends by setting the magnification filter, image or not.
    if (name == GL_TEXTURE_MAG_FILTER) mark("texture", ++textures);
}

void glHint(GLenum target, GLenum mode) {
    NEXT(void (*)(GLenum, GLenum), "glHint")(target, mode);
    if (target == GL_LINE_SMOOTH_HINT) mark("setups", 0);
}

// The first frame's warm-up, before the music starts, brackets its drawing with a push
// of every attribute; the push ends the font, and the pop that empties the stack again
// ends the warm-up. (Builds without a warm-up may push every attribute in their frames.)
void glPushAttrib(GLbitfield mask) {
    if (mask == GL_ALL_ATTRIB_BITS && !warmUpSeen && !playMarked) {
        warmUpSeen = warmUpOpen = 1;
        mark("font", 0);
    }
    NEXT(void (*)(GLbitfield), "glPushAttrib")(mask);
}

void glPopAttrib(void) {
    NEXT(void (*)(void), "glPopAttrib")();
    if (warmUpOpen) {
        GLint depth = 1;
        glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &depth);
        if (depth == 0) {
            warmUpOpen = 0;
            mark("warm-up", 0);
        }
    }
}

int SDL_InitSubSystem(Uint32 flags) {
    if (flags & SDL_INIT_AUDIO) mark("sound", 0);
    return NEXT(int (*)(Uint32), "SDL_InitSubSystem")(flags);
}

SDL_AudioDeviceID SDL_OpenAudioDevice(const char* device, int capture, const SDL_AudioSpec* want,
                                      SDL_AudioSpec* have, int changes) {
    SDL_AudioDeviceID id = NEXT(SDL_AudioDeviceID (*)(const char*, int, const SDL_AudioSpec*,
                                                      SDL_AudioSpec*, int),
                                "SDL_OpenAudioDevice")(device, capture, want, have, changes);
    mark("sound-output", 0);
    return id;
}

void SDL_LockAudioDevice(SDL_AudioDeviceID id) {
    // The first lock is the music starting to play (loading came before it).
    if (!playMarked) {
        playMarked = 1;
        mark("music-load", 0);
    }
    NEXT(void (*)(SDL_AudioDeviceID), "SDL_LockAudioDevice")(id);
}
