// The reference for start-up timing: a bare SDL2 program that opens the same
// full-screen GL window the demo opens (desktop full screen, borderless, double
// buffered, 8-bit colour, 24-bit depth, compatibility context), clears it and swaps,
// then waits for the swap shim to end it.
#include <GL/gl.h>
#include <SDL2/SDL.h>

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return 1;
    SDL_ShowCursor(SDL_DISABLE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BUFFER_SIZE, 32);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_DisplayMode desktop = {0};
    int x = SDL_WINDOWPOS_UNDEFINED, y = SDL_WINDOWPOS_UNDEFINED, w = 640, h = 480;
    if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
        x = y = 0;
        w = desktop.w;
        h = desktop.h;
    }
    SDL_Window* window = SDL_CreateWindow("bare", x, y, w, h,
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_FULLSCREEN_DESKTOP |
                                              SDL_WINDOW_BORDERLESS);
    if (!window) return 1;
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) return 1;
    if (SDL_GL_SetSwapInterval(-1) != 0) SDL_GL_SetSwapInterval(1);
    // Leaves: clear colour opaque black.
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SDL_GL_SwapWindow(window);
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
