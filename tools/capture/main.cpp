// velmora-capture: renders the demo offline, frame-exact, to PNG frames, a video with its
// sound, a contact sheet, or a benchmark report.
#include <SDL2/SDL.h>

#include <cstdio>
#include <cstdlib>

#include "app/timeline.h"
#include "tools/capture/capture.h"
#include "tools/capture/options.h"

int main(int argc, char** argv) {
    CaptureOptions options;
    std::string error;
    const int64_t demoEndMs = static_cast<int64_t>(sceneTimeline[SCENE_COUNT - 1].endMs);
    if (!parseOptions(argc, argv, demoEndMs, options, &error)) {
        std::fprintf(stderr, "velmora-capture: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(captureUsage(), stdout);
        return 0;
    }
    // No X server needed: SDL's offscreen driver with an EGL context (Mesa's llvmpipe
    // without a GPU). SDL must leave SIGINT to us, so that Ctrl-C can finish the video.
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    return runCapture(options);
}
