// The display layer over SDL2: window, compatibility GL context, the framebuffer object
// every frame is drawn into (640 x 480 times the render scale), presentation, events and
// clock.
// Owns the display globals and the window, context and render-target handles.
#include "app/display.h"

#include <SDL2/SDL.h>
#include <malloc.h>
#define GL_GLEXT_PROTOTYPES 0
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "app/display_x11.h"
#include "render/overlay.h"

int screenWidth = 640;
int screenHeight = 480;
int fieldOfView = 120;
float viewportHeight = static_cast<float>(screenHeight);
const char* windowClassName = "morvik";
int windowedWidth = 0;
int windowedHeight = 0;
int swapInterval = -1;
RenderSize renderRequest;
int renderWidth = 640;
int renderHeight = 480;
float renderScale = 1.0f;

namespace {

SDL_Window* mainWindow = nullptr;
SDL_GLContext renderContext = nullptr;
WindowKind mainWindowKind = WindowKind::Hidden;
// Whether the shown window is full screen now (F11 switches it); kept here rather than read
// from SDL's flags, which follow the window manager's answer (none on a bare X server).
bool windowFullscreen = false;
// Where and how large the window goes when it leaves full screen, pixels: the size chosen
// at start-up, then the window's own when it last went full screen.
int windowedX = SDL_WINDOWPOS_CENTERED;
int windowedY = SDL_WINDOWPOS_CENTERED;
int restoreWidth = 0;
int restoreHeight = 0;
// A transparent pointer, set over the window in full screen; made on first use.
SDL_Cursor* blankCursor = nullptr;
// The window's drawable size as last asked of SDL on the main thread; what the start-up
// thread presents into while the window opens (SDL's window is not to be read there).
int drawableWidth = 0;
int drawableHeight = 0;
GLuint targetFramebuffer = 0;
GLuint targetColor = 0;  // a texture, so that the window's copy can sample it
GLuint targetDepth = 0;
// The one-instruction fragment program the window's copy is drawn with; 0 where the
// driver has none (the copy is then a framebuffer blit). Its texture filter as last set.
GLuint copyProgram = 0;
GLint copyFilter = 0;
// Whether the X server scales the picture into the window (startServerScaling), and
// whether the last scaleIntoWindow read a frame for it rather than drawing GL's back buffer.
bool serverScalingOn = false;
bool serverFrameRead = false;
// The scaled copy that readRenderTarget blits into when asked for another size; made on
// the first read at that size and kept.
GLuint scaledFramebuffer = 0;
GLuint scaledColor = 0;
int scaledWidth = 0;
int scaledHeight = 0;

// Framebuffer-object entry points; not part of the GL 1.1 ABI, so fetched at run time.
PFNGLGENFRAMEBUFFERSPROC genFramebuffers;
PFNGLBINDFRAMEBUFFERPROC bindFramebuffer;
PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers;
PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus;
PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer;
PFNGLGENRENDERBUFFERSPROC genRenderbuffers;
PFNGLBINDRENDERBUFFERPROC bindRenderbuffer;
PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers;
PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage;
PFNGLBLITFRAMEBUFFERPROC blitFramebuffer;
PFNGLCLEARBUFFERFVPROC clearBufferfv;
PFNGLFRAMEBUFFERTEXTURE2DPROC framebufferTexture2D;
PFNGLGENPROGRAMSARBPROC genPrograms;
PFNGLBINDPROGRAMARBPROC bindProgram;
PFNGLPROGRAMSTRINGARBPROC programString;
PFNGLDELETEPROGRAMSARBPROC deletePrograms;

template <typename F>
bool loadProc(F& f, const char* name) {
    f = reinterpret_cast<F>(SDL_GL_GetProcAddress(name));
    return f != nullptr;
}

bool loadFramebufferProcs() {
    return loadProc(genFramebuffers, "glGenFramebuffers") &&
           loadProc(bindFramebuffer, "glBindFramebuffer") &&
           loadProc(deleteFramebuffers, "glDeleteFramebuffers") &&
           loadProc(checkFramebufferStatus, "glCheckFramebufferStatus") &&
           loadProc(framebufferRenderbuffer, "glFramebufferRenderbuffer") &&
           loadProc(genRenderbuffers, "glGenRenderbuffers") &&
           loadProc(bindRenderbuffer, "glBindRenderbuffer") &&
           loadProc(deleteRenderbuffers, "glDeleteRenderbuffers") &&
           loadProc(renderbufferStorage, "glRenderbufferStorage") &&
           loadProc(blitFramebuffer, "glBlitFramebuffer") &&
           loadProc(clearBufferfv, "glClearBufferfv") &&
           loadProc(framebufferTexture2D, "glFramebufferTexture2D");
}

// The window's copy as a textured quad with this program. Mesa's software rasterizer
// draws exactly this case (an unblended quad sampling a BGRA texture into a window
// without depth buffer) on its fast path, several times faster than a blit, which it
// never draws that way. Its bilinear weights are coarser than the blit's: the copy
// differs from a blit's by at most 1 on smooth pictures and 4 on noise.
// Leaves: no program bound.
void makeCopyProgram() {
    if (!SDL_GL_ExtensionSupported("GL_ARB_fragment_program") ||
        !loadProc(genPrograms, "glGenProgramsARB") || !loadProc(bindProgram, "glBindProgramARB") ||
        !loadProc(programString, "glProgramStringARB") || !loadProc(deletePrograms, "glDeleteProgramsARB"))
        return;
    static const char text[] = "!!ARBfp1.0\nTEX result.color, fragment.texcoord[0], texture[0], 2D;\nEND\n";
    while (glGetError() != GL_NO_ERROR) {
    }
    genPrograms(1, &copyProgram);
    bindProgram(GL_FRAGMENT_PROGRAM_ARB, copyProgram);
    programString(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB, sizeof text - 1, text);
    const bool compiled = glGetError() == GL_NO_ERROR;
    bindProgram(GL_FRAGMENT_PROGRAM_ARB, 0);
    if (!compiled) {
        deletePrograms(1, &copyProgram);
        copyProgram = 0;
    }
}

// Mesa's software rasterizer allocates its bins and vertex copies afresh every frame,
// megabytes in the busiest scenes. With glibc's defaults the freed memory goes back to
// the kernel (blocks from 128 kB are mapped apart, and a heap top over 128 kB is
// trimmed), so every frame faults all of it in again: a tenth of the cube shell's time.
// The process keeps what it freed instead, which raises its peak by about 15 MB.
void keepFreedMemory() {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
}

// Builds the render target with the deepest depth buffer the driver accepts. Its colour
// is a texture stored as BGRA (the unsized format with BGRA data is what makes Mesa
// choose that order), so the window's copy can take the software rasterizer's fast path;
// the stored values, and so every pixel read back, are the same in either order.
// Leaves the target bound as both read and draw framebuffer; texture 0 bound.
bool createRenderTarget(int width, int height) {
    genFramebuffers(1, &targetFramebuffer);
    bindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
    glGenTextures(1, &targetColor);
    glBindTexture(GL_TEXTURE_2D, targetColor);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    copyFilter = GL_LINEAR;
    glBindTexture(GL_TEXTURE_2D, 0);
    framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, targetColor, 0);
    genRenderbuffers(1, &targetDepth);
    const GLenum depthFormats[] = {GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT24};
    for (GLenum format : depthFormats) {
        bindRenderbuffer(GL_RENDERBUFFER, targetDepth);
        renderbufferStorage(GL_RENDERBUFFER, format, width, height);
        framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, targetDepth);
        while (glGetError() != GL_NO_ERROR) {
        }
        if (checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) {
            bindRenderbuffer(GL_RENDERBUFFER, 0);
            return true;
        }
    }
    return false;
}

// A window's size when not full screen: what the user asked for, else 1280 x 960, or the
// largest 4:3 size that fits the screen's usable area when that is smaller.
void chooseWindowedSize(int& width, int& height) {
    if (windowedWidth > 0 && windowedHeight > 0) {
        width = windowedWidth;
        height = windowedHeight;
        return;
    }
    width = 1280;
    height = 960;
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0) {
        const int k = std::min(usable.w / 4, usable.h / 3);
        if (4 * k < width) {
            width = 4 * k;
            height = 3 * k;
        }
    }
}

SDL_Window* createWindow(const char* title, int width, int height, WindowKind kind) {
    Uint32 flags = SDL_WINDOW_OPENGL;
    int x = SDL_WINDOWPOS_UNDEFINED, y = SDL_WINDOWPOS_UNDEFINED;
    // A shown window's size out of full screen, now or after F11.
    if (kind != WindowKind::Hidden) chooseWindowedSize(restoreWidth, restoreHeight);
    if (kind == WindowKind::Fullscreen) {
        // Desktop full screen: the display mode is never changed, so nothing
        // needs restoring if the program dies. The window is also made the desktop's
        // size at its origin, for X servers that run without a window manager.
        // Created hidden: showWindowWhile shows it while start-up runs.
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN;
        SDL_DisplayMode desktop;
        if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
            x = y = 0;
            width = desktop.w;
            height = desktop.h;
        }
    } else if (kind == WindowKind::Windowed) {
        flags |= SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN;
        x = y = SDL_WINDOWPOS_CENTERED;
        width = restoreWidth;
        height = restoreHeight;
    } else {
        flags |= SDL_WINDOW_HIDDEN;
    }
    return SDL_CreateWindow(title, x, y, width, height, flags);
}

// The target drawn as a quad over the given rectangle of the bound draw framebuffer, with
// the copy program, nothing else on: no depth test, blending, alpha test or culling.
// Leaves: every state as it found it (pushed and popped), the program unbound.
void drawTargetQuad(int left, int bottom, int width, int height, GLint filter) {
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_COLOR_BUFFER_BIT | GL_VIEWPORT_BIT |
                 GL_POLYGON_BIT | GL_CURRENT_BIT | GL_TRANSFORM_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_STENCIL_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glViewport(left, bottom, width, height);
    glBindTexture(GL_TEXTURE_2D, targetColor);
    if (filter != copyFilter) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        copyFilter = filter;
    }
    const GLenum stacks[] = {GL_PROJECTION, GL_MODELVIEW, GL_TEXTURE};
    for (GLenum stack : stacks) {
        glMatrixMode(stack);
        glPushMatrix();
        glLoadIdentity();
    }
    bindProgram(GL_FRAGMENT_PROGRAM_ARB, copyProgram);
    glEnable(GL_FRAGMENT_PROGRAM_ARB);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(-1.0f, -1.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(1.0f, -1.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(1.0f, 1.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(-1.0f, 1.0f);
    glEnd();
    bindProgram(GL_FRAGMENT_PROGRAM_ARB, 0);
    for (GLenum stack : stacks) {
        glMatrixMode(stack);
        glPopMatrix();
    }
    glPopAttrib();
}

// Server scaling where the swap would copy the frame into the X server anyway: a software
// rasterizer's window on X. VELMORA_SCALING=gl keeps GL's scaled copy (for comparison).
bool serverScalingWanted(const char* driver) {
    const char* asked = SDL_getenv("VELMORA_SCALING");
    if (asked && SDL_strcasecmp(asked, "gl") == 0) return false;
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const bool software = renderer && (std::strstr(renderer, "llvmpipe") || std::strstr(renderer, "softpipe"));
    return software && driver && SDL_strcasecmp(driver, "x11") == 0 &&
           SDL_GL_ExtensionSupported("GL_MESA_pack_invert");
}

// The frame read back for the X server at the target's size, rows from the top.
// Leaves: the render target bound as read and draw framebuffer; pixel packing as found.
void readFrameForServer() {
    unsigned char* pixels = serverScalingPixels();
    bindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_PACK_INVERT_MESA, GL_TRUE);
    glReadPixels(0, 0, renderWidth, renderHeight, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    glPopClientAttrib();
}

}  // namespace

// Leaves: the render target bound again for reading and drawing; no other state changes
// (glClearBuffer does not touch the clear colour the frame loop relies on).
void copyTargetInto(unsigned framebuffer, int windowWidth, int windowHeight) {
    const PixelRect r = fitFrame(renderWidth, renderHeight, windowWidth, windowHeight);
    const int left = r.x, bottom = r.y, width = r.width, height = r.height;

    bindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    // Only the bars: the picture covers the rest, and on a software rasterizer clearing
    // the whole window costs a fifth of the copy. Leaves: the scissor state as found.
    PixelRect bars[4];
    const int barCount = barsAround(r, windowWidth, windowHeight, bars);
    glPushAttrib(GL_SCISSOR_BIT);
    glEnable(GL_SCISSOR_TEST);
    const GLfloat black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    for (int i = 0; i < barCount; ++i) {
        glScissor(bars[i].x, bars[i].y, bars[i].width, bars[i].height);
        clearBufferfv(GL_COLOR, 0, black);
    }
    glPopAttrib();
    const bool exact = width == renderWidth && height == renderHeight;
    if (copyProgram)
        drawTargetQuad(left, bottom, width, height, exact ? GL_NEAREST : GL_LINEAR);
    else
        blitFramebuffer(0, 0, renderWidth, renderHeight, left, bottom, left + width, bottom + height,
                        GL_COLOR_BUFFER_BIT, exact ? GL_NEAREST : GL_LINEAR);
    bindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
}

namespace {

// The pointer over the window: the desktop's arrow, or nothing. Hidden with a transparent
// cursor rather than SDL_ShowCursor, whose hiding crashes SDL 2.26's Wayland driver once a
// pointer has entered the window; SDL_ShowCursor only where no cursor can be made.
void showPointer(bool shown) {
    if (!blankCursor) {
        SDL_Surface* clear = SDL_CreateRGBSurfaceWithFormat(0, 1, 1, 32, SDL_PIXELFORMAT_ARGB8888);
        if (clear) {
            SDL_FillRect(clear, nullptr, 0);
            blankCursor = SDL_CreateColorCursor(clear, 0, 0);
            SDL_FreeSurface(clear);
        }
    }
    if (!blankCursor) {
        SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
        return;
    }
    SDL_SetCursor(shown ? SDL_GetDefaultCursor() : blankCursor);
}

bool fail(const char* what) {
    std::fprintf(stderr, "velmora: %s: %s\n", what, SDL_GetError());
    return false;
}

// True when SDL_VIDEODRIVER (one name or a comma-separated list) names `driver`.
bool driverAskedFor(const char* driver) {
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    if (!asked) return false;
    const size_t n = std::strlen(driver);
    for (const char* p = asked; *p;) {
        const char* end = std::strchr(p, ',');
        const size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (length == n && SDL_strncasecmp(p, driver, n) == 0) return true;
        if (!end) break;
        p = end + 1;
    }
    return false;
}

// Why no screen could be reached, for the one line: which variables are missing, or
// which display was named but could not be opened.
std::string whyNoDisplay() {
    const char* x = SDL_getenv("DISPLAY");
    const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
    const bool hasX = x && *x, hasWayland = wayland && *wayland;
    if (!hasX && !hasWayland) return "DISPLAY and WAYLAND_DISPLAY are unset";
    std::string named;
    if (hasX) named = std::string("DISPLAY=") + x;
    if (hasWayland) named += std::string(hasX ? " and " : "") + "WAYLAND_DISPLAY=" + wayland;
    return "cannot open " + named;
}

bool noDisplay() {
    std::fprintf(stderr,
                 "velmora: no display (%s); to render the demo to a video, run "
                 "velmora-capture --video velmora.mp4\n",
                 whyNoDisplay().c_str());
    return false;
}

}  // namespace

bool openDisplay(const char* title, int width, int height, int bitsPerPixel, WindowKind kind) {
    keepFreedMemory();
    screenWidth = width;
    screenHeight = height;
    // Without a reachable screen SDL falls back to drivers that show nothing; the demo
    // would then play unseen for its whole length. Only a driver asked for by name (the
    // tests and the capture tool ask for "offscreen") may run without a screen. With no
    // display named at all SDL is not even asked (its probes would print lines of their own).
    const char* x = SDL_getenv("DISPLAY");
    const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
    const bool displayNamed = (x && *x) || (wayland && *wayland);
    const bool shown = kind != WindowKind::Hidden;
    if (shown && !displayNamed && !SDL_getenv("SDL_VIDEODRIVER")) return noDisplay();
    // On a Wayland desktop, SDL's own Wayland driver rather than X11 through XWayland.
    // Only those two are then tried, so failing both means no screen can be reached.
    const bool preferWayland = shown && wayland && *wayland && !SDL_getenv("SDL_VIDEODRIVER");
    if (preferWayland) SDL_SetHint(SDL_HINT_VIDEODRIVER, "wayland,x11");
    watchX11Display();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return preferWayland ? noDisplay() : fail("cannot open the display");
    const char* driver = SDL_GetCurrentVideoDriver();
    const bool invisible = driver && (SDL_strcasecmp(driver, "offscreen") == 0 ||
                                      SDL_strcasecmp(driver, "dummy") == 0);
    if (shown && invisible && !driverAskedFor(driver)) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return noDisplay();
    }
    // The pointer belongs to the desktop in a window; full screen hides it.
    showPointer(kind == WindowKind::Windowed);

    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BUFFER_SIZE, bitsPerPixel);
    // The window only ever receives the finished frame, so it needs no depth buffer (the
    // render target has its own); without one Mesa's software copy takes its fast path.
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    mainWindow = createWindow(title, width, height, kind);
    if (mainWindow) renderContext = SDL_GL_CreateContext(mainWindow);
    if (!mainWindow || !renderContext) return fail("cannot create an OpenGL context");
    SDL_GL_MakeCurrent(mainWindow, renderContext);
    watchX11Window(mainWindow);
    mainWindowKind = kind;
    windowFullscreen = kind == WindowKind::Fullscreen;
    SDL_GL_GetDrawableSize(mainWindow, &drawableWidth, &drawableHeight);

    // The picture keeps its 640 x 480 coordinates at any render size; only the pixels
    // that draw it multiply.
    if (renderRequest.native)
        nativeSize(drawableWidth, drawableHeight, renderWidth, renderHeight);
    else
        scaledSize(renderRequest.scale, renderWidth, renderHeight);
    renderScale = static_cast<float>(renderWidth) / static_cast<float>(width);
    if (!loadFramebufferProcs()) return fail("OpenGL has no framebuffer objects");
    makeCopyProgram();
    if (!createRenderTarget(renderWidth, renderHeight)) {
        std::fprintf(stderr, "velmora: cannot create the %d x %d render target\n", renderWidth, renderHeight);
        return false;
    }
    if (shown && serverScalingWanted(driver))
        serverScalingOn = startServerScaling(mainWindow, renderWidth, renderHeight);
    if (!shown) {
        SDL_GL_SetSwapInterval(0);
    } else if (swapInterval < 0) {
        // Adaptive vsync where offered: the clock sets the timing, vsync only the smoothness.
        if (SDL_GL_SetSwapInterval(-1) != 0) SDL_GL_SetSwapInterval(1);
    } else {
        SDL_GL_SetSwapInterval(swapInterval);
    }
    initGLContext();
    return true;
}

void initGLContext() {
    // Leaves: the 120-degree perspective in the projection matrix, the whole target as
    // viewport, identity modelview as current matrix, depth test on with GL_LESS,
    // lighting and blending off, smooth shading; above scale 1, lines renderScale pixels
    // wide (at 1 the line width is GL's own 1, untouched).
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    loadPerspective(static_cast<float>(screenWidth) / viewportHeight);
    glViewport(0, static_cast<GLint>((static_cast<float>(screenHeight) - viewportHeight) * 0.5f * renderScale),
               renderWidth, static_cast<GLsizei>(viewportHeight * renderScale));
    if (renderScale != 1.0f) glLineWidth(renderScale);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    glShadeModel(GL_SMOOTH);
}

void blankFrame() {
    // Leaves: identity modelview, current colour opaque white; the cleared target drawn
    // into the window's back buffer.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glColor3f(1.0f, 1.0f, 1.0f);
    if (mainWindow) copyTargetInto(0, drawableWidth, drawableHeight);
}

void presentFrame() {
    scaleIntoWindow();
    swapWindow();
}

void scaleIntoWindow() {
    if (!mainWindow) return;
    SDL_GL_GetDrawableSize(mainWindow, &drawableWidth, &drawableHeight);
    serverFrameRead = serverScalingOn;
    if (serverScalingOn)
        readFrameForServer();
    else
        copyTargetInto(0, drawableWidth, drawableHeight);
}

void swapWindow() {
    if (!mainWindow) return;
    if (!serverFrameRead) {
        SDL_GL_SwapWindow(mainWindow);
        return;
    }
    serverFrameRead = false;
    PixelRect r = fitFrame(renderWidth, renderHeight, drawableWidth, drawableHeight);
    r.y = drawableHeight - r.y - r.height;  // X counts from the top
    serverScaleIntoWindow(r, drawableWidth, drawableHeight);
}

bool isFullscreen() { return mainWindow && windowFullscreen; }

void setFullscreen(bool fullscreen) {
    if (!mainWindow || mainWindowKind == WindowKind::Hidden || fullscreen == windowFullscreen) return;
    windowFullscreen = fullscreen;
    if (fullscreen) {
        SDL_GetWindowSize(mainWindow, &restoreWidth, &restoreHeight);
        SDL_GetWindowPosition(mainWindow, &windowedX, &windowedY);
        // The screen's size at its origin first, as at start-up, for X servers that run
        // without a window manager to answer the full-screen request.
        SDL_Rect screen;
        if (SDL_GetDisplayBounds(std::max(0, SDL_GetWindowDisplayIndex(mainWindow)), &screen) == 0) {
            SDL_SetWindowPosition(mainWindow, screen.x, screen.y);
            SDL_SetWindowSize(mainWindow, screen.w, screen.h);
        }
        SDL_SetWindowFullscreen(mainWindow, SDL_WINDOW_FULLSCREEN_DESKTOP);
        showPointer(false);
    } else {
        SDL_SetWindowFullscreen(mainWindow, 0);
        SDL_SetWindowBordered(mainWindow, SDL_TRUE);
        SDL_SetWindowResizable(mainWindow, SDL_TRUE);
        SDL_SetWindowSize(mainWindow, restoreWidth, restoreHeight);
        SDL_SetWindowPosition(mainWindow, windowedX, windowedY);
        showPointer(true);
    }
}

namespace {

// showWindowWhile's hand-over between the main thread and the start-up thread.
struct StartUpHandOver {
    enum Stage { Starting, WorkerHasContext, WorkerHasNoContext, WindowShown };
    void (*work)() = nullptr;
    std::mutex lock;
    std::condition_variable changed;
    Stage stage = Starting;

    void advance(Stage next) {
        {
            std::lock_guard<std::mutex> hold(lock);
            stage = next;
        }
        changed.notify_all();
    }
    template <typename Reached>
    Stage await(Reached reached) {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return reached(stage); });
        return stage;
    }
};

// The start-up thread: an SDL thread, so that SDL frees what it keeps per thread (the
// current context) when it ends.
int runStartUpWork(void* data) {
    StartUpHandOver& handOver = *static_cast<StartUpHandOver*>(data);
    if (SDL_GL_MakeCurrent(mainWindow, renderContext) != 0) {
        handOver.advance(StartUpHandOver::WorkerHasNoContext);
        return 1;
    }
    handOver.advance(StartUpHandOver::WorkerHasContext);
    handOver.work();
    // Let go only once the window is shown: SDL swaps the process-wide X error handler
    // around both, so they must not overlap.
    handOver.await([](StartUpHandOver::Stage s) { return s == StartUpHandOver::WindowShown; });
    SDL_GL_MakeCurrent(mainWindow, nullptr);
    return 0;
}

}  // namespace

void showWindowWhile(void (*work)()) {
    if (!mainWindow) {
        work();
        return;
    }
    StartUpHandOver handOver;
    handOver.work = work;
    // Leaves: the context current on no thread until the start-up thread takes it.
    SDL_GL_MakeCurrent(mainWindow, nullptr);
    SDL_Thread* worker = SDL_CreateThread(runStartUpWork, "velmora-start", &handOver);
    if (!worker) handOver.advance(StartUpHandOver::WorkerHasNoContext);
    const bool workerRan = handOver.await([](StartUpHandOver::Stage s) {
        return s != StartUpHandOver::Starting;
    }) == StartUpHandOver::WorkerHasContext;
    if (mainWindowKind != WindowKind::Hidden) SDL_ShowWindow(mainWindow);
    handOver.advance(StartUpHandOver::WindowShown);
    if (worker) SDL_WaitThread(worker, nullptr);
    // Leaves: the context current here again.
    SDL_GL_MakeCurrent(mainWindow, renderContext);
    if (!workerRan) work();
}

void closeDisplay() {
    destroyMainWindow();
    if (blankCursor) SDL_FreeCursor(blankCursor);
    blankCursor = nullptr;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void destroyMainWindow() {
    // The context cannot outlive its window usefully, so both go together.
    stopServerScaling();
    serverScalingOn = serverFrameRead = false;
    if (renderContext) {
        deleteFramebuffers(1, &targetFramebuffer);
        glDeleteTextures(1, &targetColor);
        deleteRenderbuffers(1, &targetDepth);
        if (copyProgram) deletePrograms(1, &copyProgram);
        copyProgram = 0;
        deleteFramebuffers(1, &scaledFramebuffer);
        deleteRenderbuffers(1, &scaledColor);
        targetFramebuffer = targetColor = targetDepth = 0;
        scaledFramebuffer = scaledColor = 0;
        scaledWidth = scaledHeight = 0;
        SDL_GL_MakeCurrent(mainWindow, nullptr);
        SDL_GL_DeleteContext(renderContext);
        renderContext = nullptr;
    }
    if (mainWindow) SDL_DestroyWindow(mainWindow);
    mainWindow = nullptr;
}

unsigned renderTargetFramebuffer() { return targetFramebuffer; }

namespace {

// Leaves: the render target bound as read and draw framebuffer; no renderbuffer bound.
bool makeScaledCopy(int width, int height) {
    if (scaledFramebuffer && scaledWidth == width && scaledHeight == height) return true;
    if (!scaledFramebuffer) {
        genFramebuffers(1, &scaledFramebuffer);
        genRenderbuffers(1, &scaledColor);
    }
    bindFramebuffer(GL_FRAMEBUFFER, scaledFramebuffer);
    bindRenderbuffer(GL_RENDERBUFFER, scaledColor);
    renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, scaledColor);
    const bool complete = checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    bindRenderbuffer(GL_RENDERBUFFER, 0);
    bindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
    scaledWidth = complete ? width : 0;
    scaledHeight = complete ? height : 0;
    return complete;
}

}  // namespace

void readRenderTarget(uint8_t* rgba) { readRenderTarget(rgba, renderWidth, renderHeight); }

bool readRenderTarget(uint8_t* rgba, int width, int height) {
    // Leaves: the render target bound as read and draw framebuffer, GL_PACK_ALIGNMENT 1.
    bindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
    if (width != renderWidth || height != renderHeight) {
        if (!makeScaledCopy(width, height)) return false;
        // Whole factors repeat pixels exactly; others are smoothed as on a screen that size.
        const bool whole = width % renderWidth == 0 && height % renderHeight == 0 &&
                           width / renderWidth == height / renderHeight;
        bindFramebuffer(GL_DRAW_FRAMEBUFFER, scaledFramebuffer);
        blitFramebuffer(0, 0, renderWidth, renderHeight, 0, 0, width, height, GL_COLOR_BUFFER_BIT,
                        whole ? GL_NEAREST : GL_LINEAR);
        bindFramebuffer(GL_READ_FRAMEBUFFER, scaledFramebuffer);
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    bindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
    // GL gives the bottom row first; swap rows in place.
    const size_t row = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height / 2; ++y)
        std::swap_ranges(rgba + y * row, rgba + (y + 1) * row, rgba + (height - 1 - y) * row);
    return true;
}

uint64_t platformClockMs() { return SDL_GetTicks64(); }

namespace {

WindowMessage toWindowMessage(const SDL_Event& event) {
    switch (event.type) {
        case SDL_QUIT:
            return {WindowMessageKind::Quit, 0};
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_CLOSE)
                return {WindowMessageKind::CloseRequest, 0};
            break;
        case SDL_KEYDOWN: {
            const SDL_Keycode key = event.key.keysym.sym;
            const bool alt = (event.key.keysym.mod & KMOD_ALT) != 0;
            // A held key repeats; the switch happens once per press.
            if (key == SDLK_F11 || (alt && (key == SDLK_RETURN || key == SDLK_KP_ENTER)))
                return {event.key.repeat ? WindowMessageKind::Other : WindowMessageKind::ToggleFullscreen, 0};
            return {WindowMessageKind::KeyDown, key == SDLK_ESCAPE ? 27 : key};
        }
    }
    return {WindowMessageKind::Other, 0};
}

}  // namespace

WindowMessage pollWindowMessage() {
    SDL_Event event;
    if (!SDL_PollEvent(&event)) return {WindowMessageKind::None, 0};
    return toWindowMessage(event);
}

WindowMessage waitWindowMessage() {
    // Always with an event to fill: SDL 2.26's wait without one leaves the queue in a state
    // in which polling stops seeing new events. And never without end: on X11 a wait can
    // sleep on the connection while the events it waits for have already been read off
    // it (seen under Xvfb with Mesa's software GL), so it wakes every 100 ms to look again.
    SDL_Event event;
    if (!SDL_WaitEventTimeout(&event, 100)) return {WindowMessageKind::None, 0};
    return toWindowMessage(event);
}
