// LD_PRELOAD shim for start-up timing: stamps, in ms since VELMORA_BENCH_T0_NS (set by
// launch), the calls that mark the demo's start-up phases, and after swap number
// VELMORA_BENCH_SWAPS writes one "name ms" line per mark to VELMORA_BENCH_OUT and ends
// the process at once. The demo itself is not changed: the marks are SDL and GL calls
// it makes anyway (context, texture filters, swaps, line-smoothing hint, audio set-up).
#define _GNU_SOURCE
#include <GL/gl.h>
#include <SDL2/SDL.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#define MAX_MARKS 64

static struct {
    const char* name;
    int index;  // 0: none, else printed as name-index
    double ms;
} marks[MAX_MARKS];
static int markCount = 0;
static int swaps = 0;
static int textures = 0;
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

static void mark(const char* name, int index) {
    if (markCount < MAX_MARKS) {
        marks[markCount].name = name;
        marks[markCount].index = index;
        marks[markCount].ms = nowMs();
        ++markCount;
    }
}

static void finish(void) {
    const char* path = getenv("VELMORA_BENCH_OUT");
    FILE* out = path ? fopen(path, "w") : stderr;
    if (out) {
        for (int i = 0; i < markCount; ++i) {
            if (marks[i].index)
                fprintf(out, "%s-%d %.2f\n", marks[i].name, marks[i].index, marks[i].ms);
            else
                fprintf(out, "%s %.2f\n", marks[i].name, marks[i].ms);
        }
        fclose(out);
    }
    _exit(0);
}

#define NEXT(type, name) ((type)dlsym(RTLD_NEXT, name))

SDL_GLContext SDL_GL_CreateContext(SDL_Window* window) {
    SDL_GLContext context = NEXT(SDL_GLContext (*)(SDL_Window*), "SDL_GL_CreateContext")(window);
    mark("context", 0);
    return context;
}

void SDL_GL_SwapWindow(SDL_Window* window) {
    NEXT(void (*)(SDL_Window*), "SDL_GL_SwapWindow")(window);
    mark("swap", ++swaps);
    const char* limit = getenv("VELMORA_BENCH_SWAPS");
    if (swaps >= (limit ? atoi(limit) : 2)) finish();
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

int SDL_InitSubSystem(Uint32 flags) {
    if (flags & SDL_INIT_AUDIO) mark("font", 0);
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
